// A device driven through the library: the settings file written around
// each call (the password in it only while the call runs), the calls of the
// process serialised, failures as typed exceptions.
using System;
using System.Diagnostics;
using System.Globalization;
using System.IO;
using System.Net.Sockets;
using System.Text;
using System.Threading;

namespace Ormi.Control
{
    /// <summary>What <see cref="Device.Check"/> found.</summary>
    public sealed class DeviceInfo
    {
        public DeviceInfo(string type, string version) { Type = type; Version = version; }

        /// <summary>"ORMI" or "ORMI-M".</summary>
        public string Type { get; private set; }

        /// <summary>The package version, e.g. "2.1.0" or "2.1.0m".</summary>
        public string Version { get; private set; }

        public override string ToString() { return Type + " " + Version; }
    }

    /// <summary>One device. Every method writes ormi_control.ini with the
    /// password into the library's private folder, makes its calls and
    /// empties the password again before it returns; Dispose removes the
    /// folder once no other Device uses it. Safe to share between threads.</summary>
    public sealed class Device : IDisposable
    {
        readonly string address;
        readonly int port;
        readonly string user;
        readonly string password;
        readonly int loginMethod;
        readonly int timeoutSeconds;
        bool disposed;

        public Device(string address, int port = 80, string user = "admin", string password = "",
                      int loginMethod = 1, int timeoutSeconds = 2)
        {
            CheckLine("address", address);
            CheckLine("user", user);
            CheckLine("password", password);
            if (address.Length == 0) throw new ArgumentException("address must not be empty", "address");
            if (port < 1 || port > 65535) throw new ArgumentOutOfRangeException("port");
            if (loginMethod != 1 && loginMethod != 2) throw new ArgumentOutOfRangeException("loginMethod");
            if (timeoutSeconds < 1) throw new ArgumentOutOfRangeException("timeoutSeconds");
            this.address = address;
            this.port = port;
            this.user = user;
            this.password = password;
            this.loginMethod = loginMethod;
            this.timeoutSeconds = timeoutSeconds;
            OrmiLibrary.Acquire();
        }

        public string Address { get { return address; } }
        public int Port { get { return port; } }

        public void Dispose()
        {
            lock (OrmiLibrary.Lock)
            {
                if (disposed) return;
                disposed = true;
                OrmiLibrary.Release();
            }
        }

        /// <summary>Logs in and reads the device type and package version.</summary>
        public DeviceInfo Check()
        {
            lock (OrmiLibrary.Lock)
            {
                using (Settings())
                {
                    Login();
                    string version = NativeMethods.CopyText(NativeMethods.getValue("configuration", "devicebase", "package_version"));
                    if (string.IsNullOrEmpty(version)) throw Failure("the device gives no package version");
                    return new DeviceInfo(TypeOf(version), version);
                }
            }
        }

        /// <summary>The answer to a read of <paramref name="module"/>; with a
        /// key (dotted path) the string, true or false value of that key ("" for
        /// a number or a missing key).</summary>
        public string Get(string type, string module, string key = "")
        {
            lock (OrmiLibrary.Lock)
            {
                using (Settings())
                {
                    string text = NativeMethods.CopyText(NativeMethods.getValue(type, module, key));
                    if (text != null) return text;
                    string message = "no value for " + type + "/" + module + (key.Length > 0 ? " key " + key : "");
                    OrmiException unreachable = Unreachable(message);
                    if (unreachable != null) throw unreachable;
                    // The whole answer holds what the device said.
                    string said = key.Length > 0 ? NativeMethods.CopyText(NativeMethods.getValue(type, module, "")) : null;
                    throw new RefusedException(message, said);
                }
            }
        }

        /// <summary>Writes <paramref name="value"/> (JSON as it stands) as the
        /// data of the module, or with a key into the module's stored file
        /// configbase/&lt;module&gt;.json under the current directory.</summary>
        public void Set(string type, string module, string key, string value)
        {
            lock (OrmiLibrary.Lock)
            {
                using (Settings())
                {
                    if (NativeMethods.setValue(type, module, key, value) != 1)
                        throw Failure("the device did not take " + type + "/" + module);
                }
            }
        }

        /// <summary>The value of channel <paramref name="channel"/> ("di1", "ao2", ...) of module <paramref name="baseModule"/>.</summary>
        public int IoGet(string baseModule, string channel)
        {
            lock (OrmiLibrary.Lock)
            {
                using (Settings())
                {
                    int value = NativeMethods.getIO(baseModule, new StringBuilder(channel));
                    if (value != -1) return value;
                    // -1 is also the failure value: the channel's own answer tells which.
                    string ending = channel.Contains("do") || channel.Contains("ao") ? "/output" : "/input";
                    string text = NativeMethods.CopyText(NativeMethods.getValue("singlevalue", baseModule + "/" + channel + ending, ""));
                    int number;
                    if (text != null && int.TryParse(text.Trim().Split('.')[0], out number)) return value;
                    OrmiException unreachable = Unreachable("no value for " + baseModule + "/" + channel);
                    if (unreachable != null) throw unreachable;
                    throw new RefusedException("no value for " + baseModule + "/" + channel, text);
                }
            }
        }

        /// <summary>Sets output channel <paramref name="channel"/> of module <paramref name="baseModule"/>.</summary>
        public void IoSet(string baseModule, string channel, int value)
        {
            lock (OrmiLibrary.Lock)
            {
                using (Settings())
                {
                    if (NativeMethods.setIO(baseModule, new StringBuilder(channel), value) != 1)
                        throw Failure("the device did not set " + baseModule + "/" + channel + " to " + value);
                }
            }
        }

        /// <summary>Uploads the package file and waits up to <paramref name="waitSeconds"/> for the device's answer.
        /// Installing it is the work of <c>ormi update</c>.</summary>
        public void Upload(string path, double waitSeconds = 600)
        {
            Upload(File.ReadAllBytes(path), Path.GetFileName(path), waitSeconds);
        }

        /// <summary>Uploads <paramref name="data"/> as package <paramref name="name"/>.</summary>
        public void Upload(byte[] data, string name, double waitSeconds = 600)
        {
            if (data == null) throw new ArgumentNullException("data");
            if (string.IsNullOrEmpty(name)) throw new ArgumentException("an upload needs a name", "name");
            lock (OrmiLibrary.Lock)
            {
                int sent;
                using (Settings())
                {
                    // The upload's answer does not tell a refused login; the login does.
                    Login();
                    sent = NativeMethods.sendUpdateFile("update", name, data, data.Length);
                    if (sent == -1)
                    {
                        OrmiException unreachable = Unreachable("the upload could not be sent");
                        if (unreachable != null) throw unreachable;
                        throw new UploadFailedException("the device did not take the upload of " + name + " (" + data.Length + " bytes)");
                    }
                }
                var clock = Stopwatch.StartNew();
                while (sent == 0)
                {
                    if (clock.Elapsed.TotalSeconds >= waitSeconds)
                        throw new UploadFailedException("the device did not answer the upload within " + waitSeconds + " s");
                    sent = NativeMethods.sendUpdateFileResp();
                }
            }
        }

        // ---- helpers

        static void CheckLine(string name, string text)
        {
            if (text == null) throw new ArgumentNullException(name);
            if (text.IndexOfAny(new[] { '\r', '\n', '\0' }) >= 0)
                throw new ArgumentException(name + " must be a text of one line", name);
        }

        static string TypeOf(string version)
        {
            // The text after the last digit: none or "-..." is an ORMI, a suffix such as "m" an ORMI-M.
            int at = version.Length;
            while (at > 0 && !char.IsDigit(version[at - 1])) at--;
            string rest = version.Substring(at);
            return rest.Length == 0 || rest[0] == '-' ? "ORMI" : "ORMI-M";
        }

        void Login()
        {
            if (NativeMethods.checkConnection() == 1) return;
            OrmiException unreachable = Unreachable("no login");
            if (unreachable != null) throw unreachable;
            throw new LoginRefusedException("the device refused the login of '" + user + "' (user, password or login method)");
        }

        OrmiException Failure(string message)
        {
            return Unreachable(message) ?? new RefusedException(message);
        }

        // The exception for message when the device does not answer whole
        // (null when it does): tells a refusal by the device from a network
        // failure after a failed call.
        OrmiException Unreachable(string message)
        {
            int cut;
            bool answers = Probe(out cut);
            if (cut >= 0)
                return new UnreachableException(message + ": the device's answer was cut: the connection was reset after " + cut + " bytes");
            if (!answers) return new UnreachableException(message + ": no answer from " + address + ":" + port);
            return null;
        }

        // Whether a web server answers at all; cut is the bytes that had
        // come when a reset cut its answer, -1 when it was not cut. Only the
        // device's close ends an answer.
        bool Probe(out int cut)
        {
            cut = -1;
            var answer = new MemoryStream();
            try
            {
                using (var client = new TcpClient())
                {
                    IAsyncResult pending = client.BeginConnect(address, port, null, null);
                    if (!pending.AsyncWaitHandle.WaitOne(timeoutSeconds * 1000)) return false;
                    client.EndConnect(pending);
                    NetworkStream stream = client.GetStream();
                    stream.ReadTimeout = timeoutSeconds * 1000;
                    byte[] request = Encoding.ASCII.GetBytes("GET / HTTP/1.1\nHost: " + address + "\n\n\n");
                    stream.Write(request, 0, request.Length);
                    var piece = new byte[4096];
                    var clock = Stopwatch.StartNew();
                    while (clock.Elapsed.TotalSeconds < timeoutSeconds)
                    {
                        int n;
                        try
                        {
                            n = stream.Read(piece, 0, piece.Length);
                        }
                        catch (IOException e)
                        {
                            var socketError = e.InnerException as SocketException;
                            if (socketError != null && (socketError.SocketErrorCode == SocketError.ConnectionReset ||
                                                        socketError.SocketErrorCode == SocketError.ConnectionAborted))
                                cut = (int)answer.Length;
                            break;
                        }
                        if (n <= 0) break;
                        answer.Write(piece, 0, n);
                    }
                }
            }
            catch (SocketException) { }
            catch (IOException) { }
            if (cut >= 0) return false;
            byte[] bytes = answer.ToArray();
            return bytes.Length >= 5 && Encoding.ASCII.GetString(bytes, 0, 5) == "HTTP/";
        }

        IDisposable Settings()
        {
            if (disposed) throw new ObjectDisposedException("Device");
            return new SettingsScope(this);
        }

        byte[] SettingsText(string withPassword)
        {
            string end = Environment.NewLine;
            string text = "[IP]" + end + "ip_address=" + address + end + "ip_port=" + port + end +
                          "[LOGIN]" + end + "username=" + user + end + "password=" + withPassword + end +
                          "login_version=" + loginMethod + end + "[CONTROL]" + end + "timeout=" + timeoutSeconds + end;
            return SettingsEncoding.GetBytes(text);
        }

        // The file in the encoding in which the marshaller hands over the
        // ANSI texts: the ANSI code page on Windows, UTF-8 elsewhere.
        static readonly Encoding SettingsEncoding = AnsiEncoding();

        static Encoding AnsiEncoding()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT) return Encoding.Default;
            try { return Encoding.GetEncoding(CultureInfo.CurrentCulture.TextInfo.ANSICodePage); }
            catch (NotSupportedException) { return Encoding.GetEncoding("iso-8859-1"); }
            catch (ArgumentException) { return Encoding.GetEncoding("iso-8859-1"); }
        }

        // The password in the file for the scope, and emptied at its end whatever happened.
        sealed class SettingsScope : IDisposable
        {
            readonly Device device;

            public SettingsScope(Device device)
            {
                this.device = device;
                Monitor.Enter(OrmiLibrary.Lock);
                try { File.WriteAllBytes(OrmiLibrary.SettingsPath, device.SettingsText(device.password)); }
                catch { Monitor.Exit(OrmiLibrary.Lock); throw; }
            }

            public void Dispose()
            {
                try { File.WriteAllBytes(OrmiLibrary.SettingsPath, device.SettingsText("")); }
                finally { Monitor.Exit(OrmiLibrary.Lock); }
            }
        }
    }
}
