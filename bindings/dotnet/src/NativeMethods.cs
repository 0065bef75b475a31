// The eight exports as the library declares them. Texts are 8-bit (ANSI)
// and the calling convention stdcall (x86; the same as the platform's
// convention elsewhere). getValue returns a pointer into the library's own
// buffer: a string return type would make the marshaller free that buffer
// and end the process, so the text is copied with Marshal.PtrToStringAnsi
// before the next call, which overwrites it.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Ormi.Control
{
    /// <summary>The library's exports, unchanged. Calls from several threads
    /// must be serialised by the caller (see <see cref="OrmiLibrary.Lock"/>).</summary>
    public static class NativeMethods
    {
        /// <summary>The library's name: ormi_control.dll, libormi_control.so.</summary>
        public const string LibraryName = "ormi_control";

        /// <summary>Does nothing but pause 10 ms; returns 0.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int startDLL();

        /// <summary>1 when the device accepted the login, else 0.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int checkConnection();

        /// <summary>The channel is declared writable: pass a StringBuilder.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int getIO(string baseModule, StringBuilder channel);

        /// <summary>1 when the device confirmed, else 0.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int setIO(string baseModule, StringBuilder channel, int value);

        /// <summary>A pointer into the library's buffer, valid until the next
        /// call of any export, or IntPtr.Zero; copy it with <see cref="CopyText"/>.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern IntPtr getValue(string type, string module, string key);

        /// <summary>1 when the device confirmed, else 0.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int setValue(string type, string module, string key, string value);

        /// <summary>1 answered, 0 out but not yet answered (see sendUpdateFileResp), -1 not sent.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int sendUpdateFile(string type, string fileName, byte[] data, int length);

        /// <summary>Waits up to a second for a pending upload's answer: 1 once it came, else 0.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int sendUpdateFileResp();

        /// <summary>The text getValue returned, copied; null for IntPtr.Zero.</summary>
        public static string CopyText(IntPtr text)
        {
            return text == IntPtr.Zero ? null : Marshal.PtrToStringAnsi(text);
        }
    }
}
