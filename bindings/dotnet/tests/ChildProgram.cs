// Helper of the kill test: one call, the settings path on stdout, then
// waits to be killed.
using System;
using System.Threading;
using Ormi.Control;

static class ChildProgram
{
    static int Main(string[] arguments)
    {
        var device = new Device("127.0.0.1", int.Parse(arguments[0]), password: "secret");
        device.Check();
        Console.WriteLine(OrmiLibrary.SettingsPath);
        Console.Out.Flush();
        Thread.Sleep(60000);
        return 0;
    }
}
