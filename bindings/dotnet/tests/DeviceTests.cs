// Ormi.Control against the simulated device (ormi-sim of the native build,
// ORMI_BUILD_DIR), each device stopped by its process id.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Text;
using System.Threading;
using NUnit.Framework;
using Ormi.Control;

namespace Ormi.Control.Tests
{
    sealed class Sim : IDisposable
    {
        readonly Process process;
        public readonly int Port;

        public static string BuildDir
        {
            get { return Environment.GetEnvironmentVariable("ORMI_BUILD_DIR") ?? Path.GetFullPath("build/native"); }
        }

        public Sim(params string[] arguments)
        {
            var start = new ProcessStartInfo(Path.Combine(BuildDir, "ormi-sim"),
                                             "--port 0 " + string.Join(" ", arguments.Select(a => "\"" + a + "\"").ToArray()))
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
            };
            process = Process.Start(start);
            string line = process.StandardOutput.ReadLine() ?? "";
            if (!line.StartsWith("listening on "))
            {
                Dispose();
                throw new InvalidOperationException("ormi-sim did not start: " + line);
            }
            Port = int.Parse(line.Substring(line.LastIndexOf(':') + 1));
        }

        public void Dispose()
        {
            if (!process.HasExited) process.Kill();
            process.WaitForExit();
            process.Dispose();
        }
    }

    [TestFixture]
    public class DeviceTests
    {
        List<IDisposable> started;

        [SetUp]
        public void StartList() { started = new List<IDisposable>(); }

        [TearDown]
        public void StopAll()
        {
            for (int i = started.Count - 1; i >= 0; i--) started[i].Dispose();
        }

        Sim StartSim(params string[] arguments)
        {
            var sim = new Sim(new[] { "--password", "secret" }.Concat(arguments).ToArray());
            started.Add(sim);
            return sim;
        }

        Device Open(Sim sim, string password = "secret", int timeout = 2)
        {
            var device = new Device("127.0.0.1", sim.Port, password: password, timeoutSeconds: timeout);
            started.Add(device);
            return device;
        }

        static int FreePort()
        {
            var listener = new TcpListener(IPAddress.Loopback, 0);
            listener.Start();
            int port = ((IPEndPoint)listener.LocalEndpoint).Port;
            listener.Stop();
            return port;
        }

        [TestCase("2.1.0", "ORMI")]
        [TestCase("2.1.0m", "ORMI-M")]
        [TestCase("2.1.0-rc", "ORMI")]
        public void CheckReportsTypeAndVersion(string version, string type)
        {
            DeviceInfo info = Open(StartSim("--package-version", version)).Check();
            Assert.AreEqual(type, info.Type);
            Assert.AreEqual(version, info.Version);
        }

        [Test]
        public void GetWholeModuleAndKey()
        {
            Device device = Open(StartSim());
            StringAssert.Contains("\"package_version\": \"2.1.0\"", device.Get("configuration", "devicebase"));
            Assert.AreEqual("2.1.0", device.Get("configuration", "devicebase", "package_version"));
            Assert.AreEqual("", device.Get("configuration", "devicebase", "no_such_key"));
        }

        [Test]
        public void SetWholeModuleThenReadBack()
        {
            Device device = Open(StartSim());
            device.Set("configuration", "mymodule", "", "{\"speed\": \"fast\", \"on\": true}");
            Assert.AreEqual("fast", device.Get("configuration", "mymodule", "speed"));
            Assert.AreEqual("true", device.Get("configuration", "mymodule", "on"));
        }

        [Test]
        public void IoSetAndGetOutputsAndInputs()
        {
            Device device = Open(StartSim());
            device.IoSet("m1", "do1", 1);
            device.IoSet("m1", "ao2", -1);
            Assert.AreEqual(1, device.IoGet("m1", "do1"));
            Assert.AreEqual(-1, device.IoGet("m1", "ao2"), "-1 as a value, not as a failure");
            Assert.AreEqual(1, device.IoGet("m1", "di1"));
            Assert.AreEqual(27, device.IoGet("m1", "ai2"));
        }

        [Test]
        public void UploadIsStoredByteExact()
        {
            string folder = Path.Combine(Path.GetTempPath(), "ormi-upload-" + Guid.NewGuid().ToString("N"));
            string store = Path.Combine(folder, "store");
            Directory.CreateDirectory(folder);
            try
            {
                Device device = Open(StartSim("--store-dir", store));
                // Every byte value, a NUL first, and more than one send.
                var package = new byte[256 * 4096 + 1];
                for (int i = 0; i < package.Length; i++) package[i] = (byte)i;
                string path = Path.Combine(folder, "ORMI_demo_ormi_2.2.0.bz2");
                File.WriteAllBytes(path, package);
                device.Upload(path, 30);
                CollectionAssert.AreEqual(package, File.ReadAllBytes(Path.Combine(store, "ORMI_demo_ormi_2.2.0.bz2")));
                device.Upload(new byte[] { 0, 1, 2 }, "second.bz2", 30);
                CollectionAssert.AreEqual(new byte[] { 0, 1, 2 }, File.ReadAllBytes(Path.Combine(store, "second.bz2")));
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }

        [Test]
        public void UploadWaitsForALateAnswer()
        {
            // Time-out 1 s, answer after 2.5 s: it comes through sendUpdateFileResp.
            Device device = Open(StartSim("--answer-delay", "2500"), timeout: 1);
            var clock = Stopwatch.StartNew();
            device.Upload(new byte[] { 1 }, "late.bz2", 10);
            Assert.That(clock.Elapsed.TotalSeconds, Is.GreaterThan(2.0));
        }

        [Test]
        public void FailuresRaiseTheirKind()
        {
            Sim sim = StartSim();
            Sim slow = StartSim("--answer-delay", "5000");
            int closed = FreePort();
            var cases = new[]
            {
                Tuple.Create("closed port", closed, "secret", (Action<Device>)(d => d.Check()), typeof(UnreachableException), "no answer"),
                Tuple.Create("closed port, get", closed, "secret", (Action<Device>)(d => d.Get("configuration", "devicebase")), typeof(UnreachableException), ""),
                Tuple.Create("wrong password", sim.Port, "wrong", (Action<Device>)(d => d.Check()), typeof(LoginRefusedException), "refused the login"),
                Tuple.Create("wrong password, upload", sim.Port, "wrong", (Action<Device>)(d => d.Upload(new byte[] { 1 }, "a.bz2")), typeof(LoginRefusedException), ""),
                Tuple.Create("input set", sim.Port, "secret", (Action<Device>)(d => d.IoSet("m1", "di1", 1)), typeof(RefusedException), "did not set"),
                Tuple.Create("not JSON", sim.Port, "secret", (Action<Device>)(d => d.Set("configuration", "devicebase", "", "not json")), typeof(RefusedException), "did not take"),
                Tuple.Create("unknown module", sim.Port, "secret", (Action<Device>)(d => d.Get("configuration", "nomodule", "key")), typeof(RefusedException), "unknown module"),
                Tuple.Create("unknown channel", sim.Port, "secret", (Action<Device>)(d => d.IoGet("m1", "xx1")), typeof(RefusedException), "unknown channel"),
                Tuple.Create("too large", sim.Port, "secret", (Action<Device>)(d => d.Upload(new byte[10000001], "big.bz2")), typeof(UploadFailedException), "did not take"),
                Tuple.Create("answer too late", slow.Port, "secret", (Action<Device>)(d => d.Upload(new byte[] { 1 }, "a.bz2", 1)), typeof(UploadFailedException), "within 1 s"),
            };
            foreach (var c in cases)
            {
                using (var device = new Device("127.0.0.1", c.Item2, password: c.Item3, timeoutSeconds: 1))
                {
                    try
                    {
                        c.Item4(device);
                        Assert.Fail(c.Item1 + ": no exception");
                    }
                    catch (OrmiException error)
                    {
                        Assert.AreEqual(c.Item5, error.GetType(), c.Item1 + ": " + error.Message);
                        StringAssert.Contains(c.Item6, error.Message, c.Item1);
                    }
                }
            }
        }

        [Test]
        public void AnswerCutByAResetIsUnreachableAndSaysSo()
        {
            // The device takes the login and cuts every other answer halfway.
            Device device = Open(StartSim("--fault", "reset-mid-answer"), timeout: 1);
            var calls = new Action[] { () => device.Check(), () => device.Get("configuration", "devicebase"),
                                       () => device.Get("configuration", "devicebase", "package_version"),
                                       () => device.IoGet("m1", "di1"), () => device.Set("configuration", "devicebase", "", "{}") };
            foreach (Action call in calls)
            {
                var error = Assert.Throws<UnreachableException>(() => call());
                StringAssert.IsMatch("the device's answer was cut: the connection was reset after [0-9]+ bytes", error.Message);
            }
        }

        [Test]
        public void SilentDeviceDoesNotHang()
        {
            Device device = Open(StartSim("--fault", "silent"), timeout: 1);
            var calls = new Action[] { () => device.Check(), () => device.IoGet("m1", "di1"), () => device.Set("configuration", "x", "", "{}") };
            foreach (Action call in calls)
            {
                var clock = Stopwatch.StartNew();
                Assert.Throws<UnreachableException>(() => call());
                Assert.That(clock.Elapsed.TotalSeconds, Is.LessThan(6));
            }
        }

        [Test]
        public void FourThreadsGetTheirOwnAnswers()
        {
            // Two devices in one process: every call must carry its own device's settings.
            var versions = new[] { "2.1.0", "3.0.0m" };
            var devices = versions.Select(v => Open(StartSim("--package-version", v))).ToArray();
            var errors = new List<string>();
            var threads = Enumerable.Range(1, 4).Select(index => new Thread(() =>
            {
                Device device = devices[index % 2];
                try
                {
                    for (int round = 0; round < 25; round++)
                    {
                        int value = index * 1000 + round;
                        device.IoSet("m" + index, "ao1", value);
                        int got = device.IoGet("m" + index, "ao1");
                        string version = device.Get("configuration", "devicebase", "package_version");
                        if (got != value || version != versions[index % 2])
                            lock (errors) errors.Add(index + "/" + round + ": " + got + " " + version);
                    }
                }
                catch (Exception error)
                {
                    lock (errors) errors.Add(index + ": " + error);
                }
            })).ToList();
            threads.ForEach(t => t.Start());
            threads.ForEach(t => Assert.IsTrue(t.Join(60000)));
            CollectionAssert.IsEmpty(errors);
        }

        [Test]
        public void PasswordStandsInTheSettingsOnlyDuringACall()
        {
            // A slow device stretches the call, so that a reader sees the file mid-call.
            Device device = Open(StartSim("--fault", "slow"));
            string settings = OrmiLibrary.SettingsPath;
            bool seenDuring = false, stop = false;
            var reader = new Thread(() =>
            {
                while (!Volatile.Read(ref stop))
                {
                    try
                    {
                        // Shared for writing: Mono refuses the writer of the call otherwise.
                        using (var stream = new FileStream(settings, FileMode.Open, FileAccess.Read, FileShare.ReadWrite | FileShare.Delete))
                        using (var text = new StreamReader(stream))
                            if (text.ReadToEnd().Contains("password=secret")) Volatile.Write(ref seenDuring, true);
                    }
                    catch (IOException) { }
                }
            });
            reader.Start();
            try { device.Check(); }
            finally { Volatile.Write(ref stop, true); reader.Join(); }
            Assert.IsTrue(seenDuring, "the call ran with the password in the file");
            string after = File.ReadAllText(settings);
            StringAssert.Contains("password=" + Environment.NewLine, after);
            StringAssert.DoesNotContain("secret", after);
            Assert.Throws<RefusedException>(() => device.IoSet("m1", "di1", 1));
            StringAssert.DoesNotContain("secret", File.ReadAllText(settings), "emptied after a failed call too");
        }

        [Test]
        public void FolderRemovedOnDisposeOfTheLastDevice()
        {
            Sim sim = StartSim();
            string folder;
            using (var device = new Device("127.0.0.1", sim.Port, password: "secret"))
            {
                device.Check();
                folder = OrmiLibrary.Folder;
                Assert.IsTrue(File.Exists(OrmiLibrary.SettingsPath));
                using (var other = new Device("127.0.0.1", sim.Port, password: "secret")) other.Check();
                Assert.IsTrue(Directory.Exists(folder), "still used by the first device");
            }
            Assert.IsFalse(Directory.Exists(folder));
            using (var again = new Device("127.0.0.1", sim.Port, password: "secret"))
            {
                Assert.AreEqual(folder, OrmiLibrary.Folder);
                again.Check();
                again.Dispose();
                Assert.Throws<ObjectDisposedException>(() => again.Check());
            }
        }

        [Test]
        public void NoPasswordLeftAfterAProcessKilledBetweenCalls()
        {
            Sim sim = StartSim();
            string child = Path.Combine(Path.GetDirectoryName(typeof(DeviceTests).Assembly.Location), "OrmiChild.exe");
            var start = new ProcessStartInfo("mono", "\"" + child + "\" " + sim.Port) { UseShellExecute = false, RedirectStandardOutput = true };
            using (Process process = Process.Start(start))
            {
                string settings = process.StandardOutput.ReadLine() ?? "";
                // Kill is SIGKILL under Mono on Linux: no handler of the child runs.
                if (!process.HasExited) process.Kill();
                process.WaitForExit();
                StringAssert.EndsWith("ormi_control.ini", settings);
                string left = File.ReadAllText(settings);
                StringAssert.Contains("password=", left);
                StringAssert.DoesNotContain("secret", left);
                File.Delete(settings);
                Directory.Delete(Path.GetDirectoryName(settings));
            }
        }

        static long ResidentKilobytes()
        {
            // statm counts pages: resident is the second field.
            string[] fields = File.ReadAllText("/proc/self/statm").Split(' ');
            return long.Parse(fields[1]) * 4;
        }

        [Test]
        public void GetValueTenThousandTimesWithoutCrashOrGrowth()
        {
            Sim sim = StartSim();
            Open(sim);   // the library loaded with its folder
            lock (OrmiLibrary.Lock)
            {
                File.WriteAllText(OrmiLibrary.SettingsPath,
                    "[IP]\nip_address=127.0.0.1\nip_port=" + sim.Port + "\n[LOGIN]\nusername=admin\npassword=secret\n[CONTROL]\ntimeout=2\n");
                try
                {
                    Func<int, long> run = count =>
                    {
                        for (int i = 0; i < count; i++)
                        {
                            string text = NativeMethods.CopyText(NativeMethods.getValue("configuration", "devicebase", "package_version"));
                            if (text != "2.1.0") Assert.Fail("call " + i + " gave " + (text ?? "null"));
                        }
                        GC.Collect();
                        GC.WaitForPendingFinalizers();
                        return ResidentKilobytes();
                    };
                    long warm = run(1000);
                    long after = run(10000);
                    // The managed heap may settle a little; a leak of the
                    // buffer (4 KB a call) or of the copies would be tens of MB.
                    Assert.That(after - warm, Is.LessThan(2048), "resident " + warm + " KB -> " + after + " KB");
                    Console.WriteLine("getValue x10000: resident " + warm + " KB -> " + after + " KB");
                }
                finally
                {
                    File.WriteAllText(OrmiLibrary.SettingsPath, "");
                }
            }
        }

        [Test]
        public void ExportsAsTheyAre()
        {
            Sim sim = StartSim();
            Open(sim);
            lock (OrmiLibrary.Lock)
            {
                File.WriteAllText(OrmiLibrary.SettingsPath,
                    "[IP]\nip_address=127.0.0.1\nip_port=" + sim.Port + "\n[LOGIN]\nusername=admin\npassword=secret\n[CONTROL]\ntimeout=1\n");
                try
                {
                    Assert.AreEqual(0, NativeMethods.startDLL());
                    Assert.AreEqual(1, NativeMethods.checkConnection());
                    var channel = new StringBuilder("do1");
                    Assert.AreEqual(1, NativeMethods.setIO("m1", channel, 5));
                    Assert.AreEqual(5, NativeMethods.getIO("m1", channel));
                    Assert.AreEqual("do1", channel.ToString());
                    Assert.AreEqual(1, NativeMethods.setValue("configuration", "mymodule", "", "{\"a\": \"b\"}"));
                    Assert.AreEqual("b", NativeMethods.CopyText(NativeMethods.getValue("configuration", "mymodule", "a")));
                    Assert.AreEqual(IntPtr.Zero, NativeMethods.getValue("configuration", "nomodule", "a"));
                    Assert.AreEqual(1, NativeMethods.sendUpdateFile("update", "p.bz2", new byte[] { 1, 2, 3, 4 }, 3));
                    Assert.AreEqual(0, NativeMethods.sendUpdateFileResp(), "no upload waiting");
                }
                finally
                {
                    File.WriteAllText(OrmiLibrary.SettingsPath, "");
                }
            }
        }
    }
}
