Attribute VB_Name = "VetrolinkHost"
' The host application's side of Ostrel.exe's handshake, and the start of
' Wendra.exe, for VBA in 32-bit and 64-bit Office alike: import this module
' (File > Import File in the VBA editor). It needs nothing of Vetrolink.bas:
' Ostrel.exe loads Vetrolink.dll itself.
'
'   Dim block() As Byte, status As String, code As Long
'   code = ReceiveBlock("C:\Tervon\Program\Ostrel.exe", 60, block, status)
'   If code = 0 Then ...block(0) to block(349)...
'   Else MsgBox ReceiverExitMeaning(code) & vbLf & status
'
'   StartCloser "C:\Tervon\Program\Wendra.exe", Workbooks("Data.xlsx").Name
'
' Keep Ostrel.exe in a folder whose name has seven letters, such as Program:
' on Windows 98 to XP the receiver's work folder is that folder's sibling
' Work (ReadMe.txt, "The work folder").
'
' The steps follow the host stand-in that the project's tests run against
' the real receiver (tools/host/host_standin.cpp, Run); each step names the
' stand-in's part, and the stand-in names these steps.
Option Explicit

#If VBA7 Then
Private Type STARTUPINFO
    cb As Long
    lpReserved As LongPtr
    lpDesktop As LongPtr
    lpTitle As LongPtr
    dwX As Long
    dwY As Long
    dwXSize As Long
    dwYSize As Long
    dwXCountChars As Long
    dwYCountChars As Long
    dwFillAttribute As Long
    dwFlags As Long
    wShowWindow As Integer
    cbReserved2 As Integer
    lpReserved2 As LongPtr
    hStdInput As LongPtr
    hStdOutput As LongPtr
    hStdError As LongPtr
End Type
Private Type PROCESS_INFORMATION
    hProcess As LongPtr
    hThread As LongPtr
    dwProcessId As Long
    dwThreadId As Long
End Type
Private Declare PtrSafe Function CreateProcessA Lib "kernel32" (ByVal lpApplicationName As String, _
    ByVal lpCommandLine As String, ByVal lpProcessAttributes As LongPtr, _
    ByVal lpThreadAttributes As LongPtr, ByVal bInheritHandles As Long, _
    ByVal dwCreationFlags As Long, ByVal lpEnvironment As LongPtr, _
    ByVal lpCurrentDirectory As String, ByRef lpStartupInfo As STARTUPINFO, _
    ByRef lpProcessInformation As PROCESS_INFORMATION) As Long
Private Declare PtrSafe Function WaitForSingleObject Lib "kernel32" (ByVal hHandle As LongPtr, _
    ByVal dwMilliseconds As Long) As Long
Private Declare PtrSafe Function GetExitCodeProcess Lib "kernel32" (ByVal hProcess As LongPtr, _
    ByRef lpExitCode As Long) As Long
Private Declare PtrSafe Function TerminateProcess Lib "kernel32" (ByVal hProcess As LongPtr, _
    ByVal uExitCode As Long) As Long
Private Declare PtrSafe Function CloseHandle Lib "kernel32" (ByVal hObject As LongPtr) As Long
Private Declare PtrSafe Function CreateFileA Lib "kernel32" (ByVal lpFileName As String, _
    ByVal dwDesiredAccess As Long, ByVal dwShareMode As Long, _
    ByVal lpSecurityAttributes As LongPtr, ByVal dwCreationDisposition As Long, _
    ByVal dwFlagsAndAttributes As Long, ByVal hTemplateFile As LongPtr) As LongPtr
Private Declare PtrSafe Function GetFileSize Lib "kernel32" (ByVal hFile As LongPtr, _
    ByVal lpFileSizeHigh As LongPtr) As Long
Private Declare PtrSafe Function ReadFile Lib "kernel32" (ByVal hFile As LongPtr, _
    ByRef lpBuffer As Byte, ByVal nNumberOfBytesToRead As Long, _
    ByRef lpNumberOfBytesRead As Long, ByVal lpOverlapped As LongPtr) As Long
Private Declare PtrSafe Function GetFileAttributesA Lib "kernel32" (ByVal lpFileName As String) As Long
Private Declare PtrSafe Function DeleteFileA Lib "kernel32" (ByVal lpFileName As String) As Long
Private Declare PtrSafe Function CreateDirectoryA Lib "kernel32" (ByVal lpPathName As String, _
    ByVal lpSecurityAttributes As LongPtr) As Long
Private Declare PtrSafe Function MultiByteToWideChar Lib "kernel32" (ByVal CodePage As Long, _
    ByVal dwFlags As Long, ByRef lpMultiByteStr As Byte, ByVal cbMultiByte As Long, _
    ByVal lpWideCharStr As LongPtr, ByVal cchWideChar As Long) As Long
Private Declare PtrSafe Function GetVersion Lib "kernel32" () As Long
Private Declare PtrSafe Sub Sleep Lib "kernel32" (ByVal dwMilliseconds As Long)
Private Declare PtrSafe Function SHGetFolderPathA Lib "shell32" (ByVal hwnd As LongPtr, _
    ByVal csidl As Long, ByVal hToken As LongPtr, ByVal dwFlags As Long, _
    ByVal pszPath As String) As Long
#Else
Private Type STARTUPINFO
    cb As Long
    lpReserved As Long
    lpDesktop As Long
    lpTitle As Long
    dwX As Long
    dwY As Long
    dwXSize As Long
    dwYSize As Long
    dwXCountChars As Long
    dwYCountChars As Long
    dwFillAttribute As Long
    dwFlags As Long
    wShowWindow As Integer
    cbReserved2 As Integer
    lpReserved2 As Long
    hStdInput As Long
    hStdOutput As Long
    hStdError As Long
End Type
Private Type PROCESS_INFORMATION
    hProcess As Long
    hThread As Long
    dwProcessId As Long
    dwThreadId As Long
End Type
Private Declare Function CreateProcessA Lib "kernel32" (ByVal lpApplicationName As String, _
    ByVal lpCommandLine As String, ByVal lpProcessAttributes As Long, _
    ByVal lpThreadAttributes As Long, ByVal bInheritHandles As Long, _
    ByVal dwCreationFlags As Long, ByVal lpEnvironment As Long, _
    ByVal lpCurrentDirectory As String, ByRef lpStartupInfo As STARTUPINFO, _
    ByRef lpProcessInformation As PROCESS_INFORMATION) As Long
Private Declare Function WaitForSingleObject Lib "kernel32" (ByVal hHandle As Long, _
    ByVal dwMilliseconds As Long) As Long
Private Declare Function GetExitCodeProcess Lib "kernel32" (ByVal hProcess As Long, _
    ByRef lpExitCode As Long) As Long
Private Declare Function TerminateProcess Lib "kernel32" (ByVal hProcess As Long, _
    ByVal uExitCode As Long) As Long
Private Declare Function CloseHandle Lib "kernel32" (ByVal hObject As Long) As Long
Private Declare Function CreateFileA Lib "kernel32" (ByVal lpFileName As String, _
    ByVal dwDesiredAccess As Long, ByVal dwShareMode As Long, _
    ByVal lpSecurityAttributes As Long, ByVal dwCreationDisposition As Long, _
    ByVal dwFlagsAndAttributes As Long, ByVal hTemplateFile As Long) As Long
Private Declare Function GetFileSize Lib "kernel32" (ByVal hFile As Long, _
    ByVal lpFileSizeHigh As Long) As Long
Private Declare Function ReadFile Lib "kernel32" (ByVal hFile As Long, _
    ByRef lpBuffer As Byte, ByVal nNumberOfBytesToRead As Long, _
    ByRef lpNumberOfBytesRead As Long, ByVal lpOverlapped As Long) As Long
Private Declare Function GetFileAttributesA Lib "kernel32" (ByVal lpFileName As String) As Long
Private Declare Function DeleteFileA Lib "kernel32" (ByVal lpFileName As String) As Long
Private Declare Function CreateDirectoryA Lib "kernel32" (ByVal lpPathName As String, _
    ByVal lpSecurityAttributes As Long) As Long
Private Declare Function MultiByteToWideChar Lib "kernel32" (ByVal CodePage As Long, _
    ByVal dwFlags As Long, ByRef lpMultiByteStr As Byte, ByVal cbMultiByte As Long, _
    ByVal lpWideCharStr As Long, ByVal cchWideChar As Long) As Long
Private Declare Function GetVersion Lib "kernel32" () As Long
Private Declare Sub Sleep Lib "kernel32" (ByVal dwMilliseconds As Long)
Private Declare Function SHGetFolderPathA Lib "shell32" (ByVal hwnd As Long, _
    ByVal csidl As Long, ByVal hToken As Long, ByVal dwFlags As Long, _
    ByVal pszPath As String) As Long
#End If

' ReceiveBlock's own results, beside the receiver's exit codes.
Public Const RECEIVER_NOT_STARTED As Long = -1 ' status says why
Public Const RECEIVER_ENDED_BY_HOST As Long = -2 ' it did not end when asked to
Public Const RECEIVER_BLOCK_NOT_READ As Long = -3 ' exit 0, but no 350 values were read

Private Const INVALID_HANDLE_VALUE As Long = -1
Private Const INVALID_FILE_ATTRIBUTES As Long = -1
Private Const GENERIC_READ As Long = &H80000000
Private Const GENERIC_WRITE As Long = &H40000000
Private Const SHARE_READ_WRITE_DELETE As Long = 7 ' FILE_SHARE_READ, _WRITE and _DELETE
Private Const CREATE_ALWAYS As Long = 2
Private Const OPEN_EXISTING As Long = 3
Private Const WAIT_OBJECT_0 As Long = 0
Private Const CSIDL_APPDATA As Long = 26
Private Const CODE_PAGE_932 As Long = 932
Private Const BLOCK_SIZE As Long = 350
Private Const POLL_MS As Long = 50 ' the spreadsheet stays responsive between two looks
Private Const EXIT_WAIT_MS As Long = 5000 ' from the stop marker to the receiver's end

Private busy As Boolean ' DoEvents lets the user start another receive meanwhile

' Runs Ostrel.exe once: starts it, waits at most timeLimitSeconds for the
' device's block, reads it, acknowledges it and waits for the receiver's end.
' Returns the receiver's exit code (0: block(0 To 349) holds the data) or
' one of the RECEIVER_ constants above; status holds ErrorMessage.csv as the
' receiver last wrote it, or why nothing ran.
Public Function ReceiveBlock(ByVal receiverPath As String, ByVal timeLimitSeconds As Double, _
        ByRef block() As Byte, ByRef status As String) As Long
    Dim startIn As String, work As String, process As PROCESS_INFORMATION
    Dim started As Double, waited As Double, exitCode As Long
    Dim ready As Boolean, stopped As Boolean, extended As Boolean, haveBlock As Boolean
    ReceiveBlock = RECEIVER_NOT_STARTED
    status = ""
    If busy Then status = "a receive is already running": Exit Function
    busy = True
    On Error GoTo Failed

    ' Step 1, the work folder (stand-in: --work, --start-in, MakeFolder): the
    ' receiver never makes it.
    If InStrRev(receiverPath, "\") = 0 Then status = "give Ostrel.exe's full path": GoTo Done
    startIn = Left$(receiverPath, InStrRev(receiverPath, "\") - 1)
    work = WorkFolder(startIn)
    If work = "" Then status = "no work folder for " & startIn: GoTo Done
    MakeFolder work
    If Not FileExists(work) Then status = "cannot make the work folder " & work: GoTo Done

    ' Step 2, an earlier run's files (stand-in: staleReady, staleStatus).
    If Not ClearLeftovers(work, status) Then GoTo Done

    ' Step 3, the start, in the folder the current-directory rule needs
    ' (stand-in: CreateProcessA with startIn).
    exitCode = StartProgram("""" & receiverPath & """", startIn, process)
    If exitCode <> 0 Then
        status = "cannot start " & receiverPath & ": Windows error " & exitCode: GoTo Done
    End If

    ' Step 4, the wait for DataReady.csv or the receiver's end, within the
    ' host's own time limit: no wait of the receiver ends by itself
    ' (stand-in: the polling loop and --timeout).
    started = Timer
    Do
        If WaitForSingleObject(process.hProcess, POLL_MS) = WAIT_OBJECT_0 Then Exit Do
        If FileExists(work & "\DataReady.csv") Then ready = True: Exit Do
        waited = Timer - started
        If waited < 0 Then waited = waited + 86400 ' past midnight
        If waited > timeLimitSeconds Then
            ' A block that has begun (step line 6) ends within 3 s by itself:
            ' a stop marker now would be taken for its acknowledgement.
            If Not extended And InStr(ReadText(work & "\ErrorMessage.csv"), _
                    vbCrLf & "6" & ChrW$(&HFF1A)) > 0 Then
                timeLimitSeconds = timeLimitSeconds + 4
                extended = True
            Else
                ' Step 8, the cancel (stand-in: TerminateProcess at --timeout).
                CreateMarker work & "\StopCommand.csv"
                stopped = True
                Exit Do
            End If
        End If
        DoEvents
    Loop

    ' Step 5, the status and the data, read sharing read, write and delete,
    ' and closed again at once (stand-in: ReadWhole).
    If Not stopped Then status = ReadText(work & "\ErrorMessage.csv")
    If ready And status = "0" Then
        haveBlock = ParseBlock(ReadText(work & "\ReceiveData.csv"), block)
        ' Step 6, the acknowledgement (stand-in: CreateEmpty(stop)).
        CreateMarker work & "\StopCommand.csv"
    End If

    ' Step 7, the receiver's end and its exit code (stand-in: the report's exit=).
    If WaitForSingleObject(process.hProcess, EXIT_WAIT_MS) <> WAIT_OBJECT_0 Then
        TerminateProcess process.hProcess, 1
        WaitForSingleObject process.hProcess, EXIT_WAIT_MS
        exitCode = RECEIVER_ENDED_BY_HOST
    ElseIf GetExitCodeProcess(process.hProcess, exitCode) = 0 Then
        exitCode = RECEIVER_ENDED_BY_HOST
    End If
    CloseHandle process.hProcess
    CloseHandle process.hThread
    process.hProcess = 0
    If stopped Then status = ReadText(work & "\ErrorMessage.csv")
    ' A stop marker that met a block just begun is taken for its
    ' acknowledgement: exit 0, and the block deleted unread.
    If exitCode = 0 And Not haveBlock Then exitCode = RECEIVER_BLOCK_NOT_READ
    ReceiveBlock = exitCode
Done:
    busy = False
    Exit Function
Failed:
    status = "VBA error " & Err.Number & ": " & Err.Description
    Resume Abandon
Abandon:
    ' A receiver this run started is not left waiting without end.
    On Error Resume Next
    If process.hProcess <> 0 Then
        CreateMarker work & "\StopCommand.csv"
        If WaitForSingleObject(process.hProcess, EXIT_WAIT_MS) <> WAIT_OBJECT_0 Then
            TerminateProcess process.hProcess, 1
        End If
        CloseHandle process.hProcess
        CloseHandle process.hThread
    End If
    GoTo Done
End Function

' What an exit code of Ostrel.exe (or a result of ReceiveBlock) means.
Public Function ReceiverExitMeaning(ByVal code As Long) As String
    Select Case code
    Case 0: ReceiverExitMeaning = "the block was received and acknowledged"
    Case 1: ReceiverExitMeaning = "the receiver could not determine its work folder"
    Case 3: ReceiverExitMeaning = "Vetrolink.dll, the device's port or its settings failed " & _
        "(no device, or another program such as an earlier Ostrel.exe holds the port)"
    Case 5: ReceiverExitMeaning = "the block could not be published as ReceiveData.csv"
    Case 8: ReceiverExitMeaning = "stopped while waiting for the device: no block came in time"
    Case 9: ReceiverExitMeaning = "the block was not complete 2 to 3 seconds after its " & _
        "first byte (the status gives the count of bytes received)"
    Case RECEIVER_NOT_STARTED: ReceiverExitMeaning = "the receiver was not started"
    Case RECEIVER_ENDED_BY_HOST: ReceiverExitMeaning = "the receiver did not end when " & _
        "asked to and was ended"
    Case RECEIVER_BLOCK_NOT_READ: ReceiverExitMeaning = "the receiver ended with 0, but no " & _
        "350 values were read (a stop met a block just begun, or ReceiveData.csv was damaged)"
    Case Else: ReceiverExitMeaning = "unknown exit code " & code
    End Select
End Function

' Starts Wendra.exe to close the workbook of that name (Workbook.Name, with
' its extension) and returns at once: Wendra's calls are answered by the
' spreadsheet's own thread, which must stay free, so start it as the last
' thing your macro does and never wait for it. The workbook's unsaved
' changes are lost: save it first if they matter. False: it did not start.
Public Function StartCloser(ByVal closerPath As String, ByVal bookName As String) As Boolean
    Dim process As PROCESS_INFORMATION
    ' The whole command line after the quoted path is the name: no quotes.
    If StartProgram("""" & closerPath & """ " & bookName, vbNullString, process) <> 0 Then
        Exit Function
    End If
    CloseHandle process.hProcess
    CloseHandle process.hThread
    StartCloser = True
End Function

' The work folder as Ostrel.exe started in startIn finds it: on Windows 98 to
' XP (as the receiver sees them) startIn with its last seven characters
' replaced by "Work", from Vista on the application-data folder's
' Tervon\KAV20\work. Vetrolink.dll's WindowsVer is not asked: from Office
' it answers 0 on Windows 10 and 11, where the receiver sees 6.2.
Public Function WorkFolder(ByVal startIn As String) As String
    Dim version As Long, appData As String
    version = GetVersion()
    If version < 0 Or (version And &HFF&) < 6 Then ' the 98 family, or NT 5
        If Len(startIn) >= 7 Then WorkFolder = Left$(startIn, Len(startIn) - 7) & "Work"
    Else
        appData = String$(260, vbNullChar)
        If SHGetFolderPathA(0, CSIDL_APPDATA, 0, 0, appData) = 0 Then
            WorkFolder = Left$(appData, InStr(appData, vbNullChar) - 1) & "\Tervon\KAV20\work"
        End If
    End If
End Function

' An earlier receiver may still run: one whose host ended before the
' acknowledgement waits for it without end, and would take this run's. A
' stop marker ends it (exit 0 or 8) within milliseconds. Then the four
' exchange files go, so that nothing of that run is taken for this one's.
Private Function ClearLeftovers(ByVal work As String, ByRef status As String) As Boolean
    Dim fileName As Variant
    If FileExists(work & "\DataReady.csv") Or FileExists(work & "\ErrorMessage.csv") Then
        CreateMarker work & "\StopCommand.csv"
        Sleep 500
    End If
    For Each fileName In Array("ReceiveData.csv", "DataReady.csv", "ErrorMessage.csv", "StopCommand.csv")
        If FileExists(work & "\" & fileName) Then
            If DeleteFileA(work & "\" & fileName) = 0 Then
                status = "cannot delete " & work & "\" & fileName & " (open in another program?)"
                Exit Function
            End If
        End If
    Next
    ClearLeftovers = True
End Function

' 0 started, else the Windows error.
Private Function StartProgram(ByVal commandLine As String, ByVal currentDirectory As String, _
        ByRef process As PROCESS_INFORMATION) As Long
    Dim startup As STARTUPINFO
    startup.cb = LenB(startup)
    If CreateProcessA(vbNullString, commandLine, 0, 0, 0, 0, 0, currentDirectory, _
            startup, process) = 0 Then StartProgram = Err.LastDllError
End Function

Private Function FileExists(ByVal path As String) As Boolean
    FileExists = GetFileAttributesA(path) <> INVALID_FILE_ATTRIBUTES
End Function

' An empty marker, closed at once: the receiver sees it only once it is closed.
Private Sub CreateMarker(ByVal path As String)
#If VBA7 Then
    Dim file As LongPtr
#Else
    Dim file As Long
#End If
    file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0)
    If file <> INVALID_HANDLE_VALUE Then CloseHandle file
End Sub

' The whole file as text, decoded from code page 932 whatever this PC's own
' code page; "" when it cannot be read. Shared for reading, writing and
' deletion, so the receiver's writes and deletions go on.
Private Function ReadText(ByVal path As String) As String
#If VBA7 Then
    Dim file As LongPtr
#Else
    Dim file As Long
#End If
    Dim size As Long, got As Long, length As Long, bytes() As Byte
    file = CreateFileA(path, GENERIC_READ, SHARE_READ_WRITE_DELETE, 0, OPEN_EXISTING, 0, 0)
    If file = INVALID_HANDLE_VALUE Then Exit Function
    size = GetFileSize(file, 0)
    If size > 0 Then
        ReDim bytes(0 To size - 1)
        If ReadFile(file, bytes(0), size, got, 0) = 0 Then got = 0
    End If
    CloseHandle file
    If got = 0 Then Exit Function
    length = MultiByteToWideChar(CODE_PAGE_932, 0, bytes(0), got, 0, 0)
    If length = 0 Then Exit Function
    ReadText = String$(length, vbNullChar)
    MultiByteToWideChar CODE_PAGE_932, 0, bytes(0), got, StrPtr(ReadText), length
End Function

' ReceiveData.csv: 350 lines, each a decimal byte value and CR LF.
Private Function ParseBlock(ByVal content As String, ByRef block() As Byte) As Boolean
    Dim lines() As String, i As Long
    lines = Split(content, vbCrLf)
    If UBound(lines) <> BLOCK_SIZE Then Exit Function ' VBA's Or would index lines() anyway
    If lines(BLOCK_SIZE) <> "" Then Exit Function
    ReDim block(0 To BLOCK_SIZE - 1)
    For i = 0 To BLOCK_SIZE - 1
        If Len(lines(i)) = 0 Or Len(lines(i)) > 3 Or lines(i) Like "*[!0-9]*" Then Exit Function
        If CLng(lines(i)) > 255 Then Exit Function
        block(i) = CByte(lines(i))
    Next
    ParseBlock = True
End Function

' Makes the folder and the ones above it that are missing.
Private Sub MakeFolder(ByVal path As String)
    If Len(path) <= 3 Or FileExists(path) Then Exit Sub
    MakeFolder Left$(path, InStrRev(path, "\") - 1)
    CreateDirectoryA path, 0
End Sub
