Attribute VB_Name = "Vetrolink"
' Vetrolink.dll for VBA, 32-bit and 64-bit Office alike: import this module
' (File > Import File in the VBA editor). Take the DLL of Office's own width
' and put it where Windows finds it (ReadMe.txt): Lib "Vetrolink.dll" names
' no folder.
'
' A port handle is a LongPtr; every other number is a Long. Text buffers
' belong to the caller: String$(7, vbNullChar) for AskVer, 100 for ComPort
' (or use PortList); the text ends at the first vbNullChar. WriteData takes
' the first element of a Byte array: WriteData(port, bytes(0), n, written).
Option Explicit

#If VBA7 Then
Public Declare PtrSafe Function WindowsVer Lib "Vetrolink.dll" () As Long
Public Declare PtrSafe Function AskVer Lib "Vetrolink.dll" (ByVal versionText As String) As Long
Public Declare PtrSafe Function ComPort Lib "Vetrolink.dll" (ByVal vendorId As Long, _
    ByVal productId As Long, ByRef portCount As Long, ByVal portList As String) As Long
Public Declare PtrSafe Function SetPort Lib "Vetrolink.dll" (ByVal baudRate As Long, _
    ByVal dataBits As Long, ByVal parity As Long, ByVal stopBits As Long, _
    ByRef port As LongPtr, ByVal portName As String) As Long
Public Declare PtrSafe Function SetPortOver Lib "Vetrolink.dll" (ByVal baudRate As Long, _
    ByVal dataBits As Long, ByVal parity As Long, ByVal stopBits As Long, _
    ByRef port As LongPtr, ByVal portName As String) As Long
Public Declare PtrSafe Function ReadData Lib "Vetrolink.dll" (ByVal port As LongPtr, _
    ByRef oneByte As Byte) As Long
Public Declare PtrSafe Function WriteData Lib "Vetrolink.dll" (ByVal port As LongPtr, _
    ByRef data As Byte, ByVal count As Long, ByRef written As Long) As Long
Public Declare PtrSafe Function ClearBuffer Lib "Vetrolink.dll" (ByVal port As LongPtr, _
    ByVal mode As Long) As Long
Public Declare PtrSafe Function CloseCom Lib "Vetrolink.dll" (ByVal port As LongPtr) As Long
#Else
Public Declare Function WindowsVer Lib "Vetrolink.dll" () As Long
Public Declare Function AskVer Lib "Vetrolink.dll" (ByVal versionText As String) As Long
Public Declare Function ComPort Lib "Vetrolink.dll" (ByVal vendorId As Long, _
    ByVal productId As Long, ByRef portCount As Long, ByVal portList As String) As Long
Public Declare Function SetPort Lib "Vetrolink.dll" (ByVal baudRate As Long, _
    ByVal dataBits As Long, ByVal parity As Long, ByVal stopBits As Long, _
    ByRef port As Long, ByVal portName As String) As Long
Public Declare Function SetPortOver Lib "Vetrolink.dll" (ByVal baudRate As Long, _
    ByVal dataBits As Long, ByVal parity As Long, ByVal stopBits As Long, _
    ByRef port As Long, ByVal portName As String) As Long
Public Declare Function ReadData Lib "Vetrolink.dll" (ByVal port As Long, _
    ByRef oneByte As Byte) As Long
Public Declare Function WriteData Lib "Vetrolink.dll" (ByVal port As Long, _
    ByRef data As Byte, ByVal count As Long, ByRef written As Long) As Long
Public Declare Function ClearBuffer Lib "Vetrolink.dll" (ByVal port As Long, _
    ByVal mode As Long) As Long
Public Declare Function CloseCom Lib "Vetrolink.dll" (ByVal port As Long) As Long
#End If

' ComPort into its 100-byte buffer. Returns the port list ("COM3,COM7,")
' when result is 0, else ComPort's message; portCount is 0 unless ComPort
' counted ports.
Public Function PortList(ByVal vendorId As Long, ByVal productId As Long, _
        ByRef portCount As Long, ByRef result As Long) As String
    Dim buffer As String
    buffer = String$(100, vbNullChar)
    portCount = 0
    result = ComPort(vendorId, productId, portCount, buffer)
    PortList = Left$(buffer, InStr(buffer & vbNullChar, vbNullChar) - 1)
End Function
