// The library reads ormi_control.ini from the directory that was current
// when it was loaded. It is loaded here, once, with a private folder as the
// current directory (for the moment of the load, under the process lock),
// and that folder is where every Device writes its settings.
using System;
using System.IO;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

namespace Ormi.Control
{
    /// <summary>The loaded library's settings folder and the lock that
    /// serialises every call of the process.</summary>
    public static class OrmiLibrary
    {
        /// <summary>Held around every call into the library and the settings writes that frame it.</summary>
        public static readonly object Lock = new object();

        static string folder;
        static bool loaded;
        static int users;

        /// <summary>The directory whose ormi_control.ini the library reads (null before <see cref="Load"/>).</summary>
        public static string Folder { get { lock (Lock) return folder; } }

        /// <summary>The settings file the library reads.</summary>
        public static string SettingsPath { get { lock (Lock) return folder == null ? null : Path.Combine(folder, "ormi_control.ini"); } }

        static bool IsUnix
        {
            get { return Environment.OSVersion.Platform == PlatformID.Unix || Environment.OSVersion.Platform == PlatformID.MacOSX; }
        }

        [DllImport("libc", EntryPoint = "mkdir", SetLastError = true)]
        static extern int unixMkdir(string path, int mode);

        static void MakeFolder(string path)
        {
            if (IsUnix)
            {
                // Readable by this user only, and never a folder someone else made.
#if NET7_0_OR_GREATER
                if (Directory.Exists(path) || File.Exists(path))
                    throw new OrmiException("the settings folder " + path + " exists already");
                Directory.CreateDirectory(path, UnixFileMode.UserRead | UnixFileMode.UserWrite | UnixFileMode.UserExecute);
                return;
#else
                if (unixMkdir(path, Convert.ToInt32("700", 8)) != 0)
                    throw new OrmiException("cannot make the settings folder " + path + " (errno " + Marshal.GetLastWin32Error() + ")");
                return;
#endif
            }
            if (Directory.Exists(path))
                throw new OrmiException("the settings folder " + path + " exists already");
            Directory.CreateDirectory(path);
        }

        // The first call loads the library (startDLL does nothing else). In a
        // method of its own: a runtime may bind the library when it compiles
        // the caller, which would be before the directory is changed.
        [MethodImpl(MethodImplOptions.NoInlining)]
        static void FirstCall()
        {
            NativeMethods.startDLL();
        }

        /// <summary>Loads the library with a private settings folder, unless
        /// it is loaded already. Call it before the first call of
        /// <see cref="NativeMethods"/> when you use those directly.</summary>
        public static void Load()
        {
            lock (Lock)
            {
                if (loaded) return;
                string path = Path.Combine(Path.GetTempPath(), "ormi_control-" + Guid.NewGuid().ToString("N"));
                MakeFolder(path);
                string previous = Directory.GetCurrentDirectory();
                Directory.SetCurrentDirectory(path);
                try
                {
                    FirstCall();
                }
                catch (Exception error)
                {
                    Directory.SetCurrentDirectory(previous);
                    Directory.Delete(path);
                    if (error is DllNotFoundException || error is BadImageFormatException || error is EntryPointNotFoundException)
                        throw new OrmiException("ormi_control library not loaded (" + error.Message + "); it is looked for next to the program and on PATH / LD_LIBRARY_PATH");
                    throw;
                }
                Directory.SetCurrentDirectory(previous);
                folder = path;
                loaded = true;
                AppDomain.CurrentDomain.ProcessExit += delegate { RemoveFolder(); };
                // An unhandled exception ends the process without ProcessExit.
                AppDomain.CurrentDomain.UnhandledException += delegate { RemoveFolder(); };
            }
        }

        internal static void Acquire()
        {
            lock (Lock)
            {
                Load();
                // The library keeps reading this path: made again after a release.
                if (!Directory.Exists(folder)) MakeFolder(folder);
                users++;
            }
        }

        internal static void Release()
        {
            lock (Lock)
            {
                if (users > 0 && --users == 0) RemoveFolder();
            }
        }

        static void RemoveFolder()
        {
            lock (Lock)
            {
                if (folder == null || !Directory.Exists(folder)) return;
                string settings = Path.Combine(folder, "ormi_control.ini");
                try
                {
                    if (File.Exists(settings))
                    {
                        File.WriteAllBytes(settings, new byte[0]);
                        File.Delete(settings);
                    }
                    Directory.Delete(folder, true);
                }
                catch (IOException) { }
                catch (UnauthorizedAccessException) { }
            }
        }
    }
}
