using System;

namespace Ormi.Control
{
    /// <summary>Base of every failure of this library. <see cref="DeviceText"/>
    /// is what the device answered, where the library hands that on.</summary>
    public class OrmiException : Exception
    {
        public OrmiException(string message, string deviceText = null)
            : base(string.IsNullOrEmpty(deviceText) ? message : message + ": " + deviceText.Trim())
        {
            DeviceText = deviceText;
        }

        public string DeviceText { get; private set; }
    }

    /// <summary>No answer from the device: refused, reset or silent connection,
    /// or an answer cut by a reset (the message says so).</summary>
    public class UnreachableException : OrmiException
    {
        public UnreachableException(string message) : base(message) { }
    }

    /// <summary>The device answered but refused the user, password or login method.</summary>
    public class LoginRefusedException : OrmiException
    {
        public LoginRefusedException(string message) : base(message) { }
    }

    /// <summary>The device refused a read or a write.</summary>
    public class RefusedException : OrmiException
    {
        public RefusedException(string message, string deviceText = null) : base(message, deviceText) { }
    }

    /// <summary>The package did not go out, or its answer did not come in time.</summary>
    public class UploadFailedException : OrmiException
    {
        public UploadFailedException(string message) : base(message) { }
    }
}
