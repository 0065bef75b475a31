Attribute VB_Name = "OrmiControl"
' Declarations of the ormi_control library for VBA (Excel, Access, Word):
' 32- and 64-bit Office 2010 and later (VBA7, Declare PtrSafe), and the
' 32-bit Office before it.
'
' - The library reads ormi_control.ini from the folder that is current when
'   it is loaded: call OrmiLoad with that folder before anything else.
' - Write the password into the file only for the calls that need it, and
'   empty it right after (OrmiWriteSettings ... "" ), so that it does not
'   stay on the disk.
' - getValue returns a pointer into the library's buffer, valid until the
'   next call: read it with OrmiGetValue, which copies the text at once.
'   Never declare it "As String": VBA would treat the buffer as its own.
' - Put ormi_control.dll of the Office bitness (x86 or x64) into a folder on
'   PATH, or into the folder given to OrmiLoad.
'
' The whole update of a device (check, upload, install, reboot, version)
' is "ormi update PACKAGE --json"; run it with Shell rather than writing it
' again here.
Option Explicit

#If VBA7 Then
Public Declare PtrSafe Function startDLL Lib "ormi_control.dll" () As Long
Public Declare PtrSafe Function checkConnection Lib "ormi_control.dll" () As Long
Public Declare PtrSafe Function getIO Lib "ormi_control.dll" (ByVal base As String, ByVal channel As String) As Long
Public Declare PtrSafe Function setIO Lib "ormi_control.dll" (ByVal base As String, ByVal channel As String, ByVal value As Long) As Long
Public Declare PtrSafe Function getValue Lib "ormi_control.dll" (ByVal typeName As String, ByVal module As String, ByVal key As String) As LongPtr
Public Declare PtrSafe Function setValue Lib "ormi_control.dll" (ByVal typeName As String, ByVal module As String, ByVal key As String, ByVal value As String) As Long
Public Declare PtrSafe Function sendUpdateFile Lib "ormi_control.dll" (ByVal typeName As String, ByVal fileName As String, ByRef data As Byte, ByVal length As Long) As Long
Public Declare PtrSafe Function sendUpdateFileResp Lib "ormi_control.dll" () As Long

Private Declare PtrSafe Function lstrlenA Lib "kernel32" (ByVal text As LongPtr) As Long
Private Declare PtrSafe Sub RtlMoveMemory Lib "kernel32" (ByRef destination As Byte, ByVal source As LongPtr, ByVal length As LongPtr)
#Else
Public Declare Function startDLL Lib "ormi_control.dll" () As Long
Public Declare Function checkConnection Lib "ormi_control.dll" () As Long
Public Declare Function getIO Lib "ormi_control.dll" (ByVal base As String, ByVal channel As String) As Long
Public Declare Function setIO Lib "ormi_control.dll" (ByVal base As String, ByVal channel As String, ByVal value As Long) As Long
Public Declare Function getValue Lib "ormi_control.dll" (ByVal typeName As String, ByVal module As String, ByVal key As String) As Long
Public Declare Function setValue Lib "ormi_control.dll" (ByVal typeName As String, ByVal module As String, ByVal key As String, ByVal value As String) As Long
Public Declare Function sendUpdateFile Lib "ormi_control.dll" (ByVal typeName As String, ByVal fileName As String, ByRef data As Byte, ByVal length As Long) As Long
Public Declare Function sendUpdateFileResp Lib "ormi_control.dll" () As Long

Private Declare Function lstrlenA Lib "kernel32" (ByVal text As Long) As Long
Private Declare Sub RtlMoveMemory Lib "kernel32" (ByRef destination As Byte, ByVal source As Long, ByVal length As Long)
#End If

' Loads the library with settingsFolder as the current folder, so that it
' reads settingsFolder\ormi_control.ini; the current folder is restored.
Public Sub OrmiLoad(ByVal settingsFolder As String)
    Dim previous As String
    previous = CurDir$
    ChDrive Left$(settingsFolder, 1)
    ChDir settingsFolder
    On Error GoTo Restore
    startDLL
Restore:
    ChDrive Left$(previous, 1)
    ChDir previous
    If Err.Number <> 0 Then Err.Raise Err.Number, "OrmiLoad", Err.Description
End Sub

' Writes the settings file; call it with the password before a call and
' with "" right after it.
Public Sub OrmiWriteSettings(ByVal settingsFolder As String, ByVal address As String, ByVal port As Long, _
                             ByVal user As String, ByVal password As String, _
                             Optional ByVal loginMethod As Long = 1, Optional ByVal timeoutSeconds As Long = 2)
    Dim file As Integer
    file = FreeFile
    Open settingsFolder & "\ormi_control.ini" For Output As #file
    Print #file, "[IP]"
    Print #file, "ip_address=" & address
    Print #file, "ip_port=" & port
    Print #file, "[LOGIN]"
    Print #file, "username=" & user
    Print #file, "password=" & password
    Print #file, "login_version=" & loginMethod
    Print #file, "[CONTROL]"
    Print #file, "timeout=" & timeoutSeconds
    Close #file
End Sub

' getValue with the text copied out of the library's buffer at once.
' Raises error vbObjectError + 1 when the library returns no text.
Public Function OrmiGetValue(ByVal typeName As String, ByVal module As String, ByVal key As String) As String
#If VBA7 Then
    Dim text As LongPtr
#Else
    Dim text As Long
#End If
    Dim length As Long
    Dim bytes() As Byte
    text = getValue(typeName, module, key)
    If text = 0 Then Err.Raise vbObjectError + 1, "OrmiGetValue", "no value for " & typeName & "/" & module & " " & key
    length = lstrlenA(text)
    If length = 0 Then Exit Function
    ReDim bytes(0 To length - 1)
    RtlMoveMemory bytes(0), text, length
    OrmiGetValue = StrConv(bytes, vbUnicode)
End Function

' Uploads a package file and waits up to waitSeconds for the answer:
' True once the device has answered.
Public Function OrmiUpload(ByVal path As String, Optional ByVal waitSeconds As Double = 600) As Boolean
    Dim file As Integer
    Dim data() As Byte
    Dim sent As Long
    Dim started As Double
    file = FreeFile
    Open path For Binary Access Read As #file
    If LOF(file) = 0 Then
        Close #file
        Exit Function
    End If
    ReDim data(0 To LOF(file) - 1)
    Get #file, , data
    Close #file
    sent = sendUpdateFile("update", Mid$(path, InStrRev(path, "\") + 1), data(0), UBound(data) + 1)
    started = Timer
    Do While sent = 0
        ' Timer starts again at midnight.
        If Timer < started Then started = started - 86400
        If Timer - started > waitSeconds Then Exit Do
        sent = sendUpdateFileResp()
        DoEvents
    Loop
    OrmiUpload = sent = 1
End Function
