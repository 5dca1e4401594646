; The Windows installer (NSIS, built by makensis with -INPUTCHARSET UTF8).
; It installs for the current user only, into a directory that user can
; write, since the client keeps its cache (assets\) beside itself. The
; uninstaller removes the program and asks before removing the cache.
; Neither replaces nor removes the files of a running program: they ask
; the operator to close it (a silent run ends with exit code 2 instead),
; and any file that cannot be written or removed ends the run as failed.
; Defines from the build: VERSION, SRC (the program directory), ICON,
; OUTFILE.
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Quorvel加速场控"
!define COMPANY "Quorvel"
!define REGKEY "Software\Quorvel\quorvel-client"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quorvel-client"
; How long a closing client may take to stop its work and its server.
!define CLOSE_WAIT_MS 20000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Quorvel"
InstallDirRegKey HKCU "${REGKEY}" "InstallDir"
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${COMPANY}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quorvel-client.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "查看使用说明"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; The program's files, each given to MACRO by its name in the program
; directory.
!macro ForEachProgramFile MACRO
  !insertmacro ${MACRO} "quorvel-client.exe"
  !insertmacro ${MACRO} "qv-download.exe"
  !insertmacro ${MACRO} "caddy.exe"
  !insertmacro ${MACRO} "Caddyfile"
  !insertmacro ${MACRO} "README.txt"
!macroend

; Ends the run as failed: the operator reads why (a silent run only gets
; the exit code 2), and nothing after it runs.
!macro Fail TEXT
  SetErrorLevel 2
  DetailPrint "${TEXT}"
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  Abort
!macroend

; What the installer and the uninstaller share, each with its own copy
; (the uninstaller's functions carry the prefix "un.").
!macro ProgramFunctions UN
; Pushes the id of a running process whose program is the file named on
; the top of the stack (compared as Windows compares names), or 0. The
; program's path tells this directory's client and server from any other
; program, whatever its windows are called.
Function ${UN}FindProcess
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $R6 0
  System::Call 'kernel32::GetLongPathNameW(w R0, w .R1, i ${NSIS_MAX_STRLEN}) i .R2'
  ${IfThen} $R2 > 0 ${|} StrCpy $R0 $R1 ${|}
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .R1'  ; TH32CS_SNAPPROCESS
  ${If} $R1 P<> -1
    ; PROCESSENTRY32W: 568 bytes on x64, its size first, the process id at 8.
    System::Alloc 568
    Pop $R2
    System::Call '*$R2(i 568)'
    System::Call 'kernel32::Process32FirstW(p R1, p R2) i .R3'
    ${DoWhile} $R3 <> 0
      System::Call '*$R2(i, i, i .R4)'
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i R4) p .R5'  ; query limited information
      ${If} $R5 P<> 0
        System::Call 'kernel32::QueryFullProcessImageNameW(p R5, i 0, w .R3, *i ${NSIS_MAX_STRLEN}) i .R7'
        ${If} $R7 <> 0
          System::Call 'kernel32::lstrcmpiW(w R3, w R0) i .R7'
          ${IfThen} $R7 = 0 ${|} StrCpy $R6 $R4 ${|}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p R5)'
      ${EndIf}
      ${IfThen} $R6 <> 0 ${|} ${ExitDo} ${|}
      System::Call 'kernel32::Process32NextW(p R1, p R2) i .R3'
    ${Loop}
    System::Free $R2
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  StrCpy $R0 $R6
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Closes the process whose id is on the top of the stack as a click on
; its windows' close boxes does (WM_CLOSE to each of its visible, enabled
; top-level windows: the client stops its work and its server), and waits
; for it to end, at most CLOSE_WAIT_MS. Pushes 1 when it ended, else 0.
Function ${UN}CloseProcess
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i R0) p .R3'  ; SYNCHRONIZE
  StrCpy $R1 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p R1, p 0, p 0) p .R1'
    ${IfThen} $R1 P= 0 ${|} ${ExitDo} ${|}
    System::Call 'user32::GetWindowThreadProcessId(p R1, *i .R2)'
    ${If} $R2 = $R0
      System::Call 'user32::IsWindowVisible(p R1) i .R2'
      ${If} $R2 <> 0
        System::Call 'user32::IsWindowEnabled(p R1) i .R2'
        ${If} $R2 <> 0
          System::Call 'user32::PostMessageW(p R1, i ${WM_CLOSE}, p 0, p 0)'
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Loop}
  StrCpy $R0 1
  ${If} $R3 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p R3, i ${CLOSE_WAIT_MS}) i .R2'
    ${IfThen} $R2 <> 0 ${|} StrCpy $R0 0 ${|}  ; WAIT_OBJECT_0: it ended
    System::Call 'kernel32::CloseHandle(p R3)'
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Ends the process whose id is on the top of the stack, and waits for it.
Function ${UN}EndProcess
  Exch $R0
  Push $R1
  System::Call 'kernel32::OpenProcess(i 0x100001, i 0, i R0) p .R1'  ; SYNCHRONIZE | TERMINATE
  ${If} $R1 P<> 0
    System::Call 'kernel32::TerminateProcess(p R1, i 1)'
    System::Call 'kernel32::WaitForSingleObject(p R1, i 5000)'
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Makes sure neither the client of $INSTDIR nor its local server runs:
; with the operator's leave, the client is closed as its close box would
; (it stops its server itself), then a server still left is ended. Without
; it, or when the client does not close, the run ends as failed. A silent
; run never closes the operator's program: it fails.
Function ${UN}StopProgram
  Push $R0
  Push $R1
  ${Do}
    Push "$INSTDIR\quorvel-client.exe"
    Call ${UN}FindProcess
    Pop $R0
    Push "$INSTDIR\caddy.exe"
    Call ${UN}FindProcess
    Pop $R1
    ${If} $R0 = 0
    ${AndIf} $R1 = 0
      ${ExitDo}
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "${PRODUCT}（$INSTDIR）正在运行，它的文件无法替换或删除。$\r$\n$\r$\n点“确定”关闭它：正在进行的缓存和加速服务会停止，已缓存的文件保留。点“取消”退出。" /SD IDCANCEL IDOK close
    !insertmacro Fail "${PRODUCT}正在运行，未做任何更改。请先关闭它再试。"
  close:
    ${If} $R0 <> 0
      Push $R0
      Call ${UN}CloseProcess
      Pop $R0
      ${If} $R0 = 0
        !insertmacro Fail "${PRODUCT}没有在 20 秒内关闭，未做任何更改。请在它的窗口中停止缓存和加速服务并关闭它，然后再试。"
      ${EndIf}
    ${EndIf}
    Push "$INSTDIR\caddy.exe"
    Call ${UN}FindProcess
    Pop $R1
    ${If} $R1 <> 0
      Push $R1
      Call ${UN}EndProcess
    ${EndIf}
  ${Loop}
  Pop $R1
  Pop $R0
FunctionEnd

; Fails the run, before any file changes, when a file of the program is in
; use by another program (qv-download.exe still downloading, say): one that
; cannot be opened for writing can be neither replaced nor removed.
Function ${UN}CheckFilesFree
  Push $0
  !insertmacro ForEachProgramFile CheckFileFree
  Pop $0
FunctionEnd
!macroend

!macro CheckFileFree NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${NAME}" a
    ${If} ${Errors}
      !insertmacro Fail "无法写入“$INSTDIR\${NAME}”（它可能正被其他程序使用，例如正在下载的 qv-download.exe），未做任何更改。请关闭使用它的程序后再试。"
    ${EndIf}
    FileClose $0
  ${EndIf}
!macroend
!insertmacro ProgramFunctions ""
!insertmacro ProgramFunctions "un."

; Leaves $0 "1" when this user can make files in $INSTDIR, or, where it
; does not exist yet, in the nearest folder above it that does; else "".
; (Program Files, say, needs an administrator, and this installer runs as
; the user: the client could never write its cache there.)
Function CanWriteInstallDir
  Push $1
  Push $2
  StrCpy $0 ""
  StrCpy $1 "$INSTDIR"
  ${Do}
    ${If} ${FileExists} "$1\*.*"
      ClearErrors
      FileOpen $2 "$1\quorvel-write-check.tmp" w
      ${IfNot} ${Errors}
        FileClose $2
        Delete "$1\quorvel-write-check.tmp"
        StrCpy $0 1
      ${EndIf}
      ${ExitDo}
    ${EndIf}
    ${IfThen} ${FileExists} "$1" ${|} ${ExitDo} ${|}  ; a file where a folder must be
    ${GetParent} "$1" $2
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    StrCpy $1 $2
  ${Loop}
  Pop $2
  Pop $1
FunctionEnd

!define NOT_WRITABLE "无法写入文件夹“$INSTDIR”。$\r$\n$\r$\n${PRODUCT}把缓存的会议文件保存在自己所在的文件夹中，只能安装到当前用户可以写入的文件夹，例如默认的“$LOCALAPPDATA\Programs\Quorvel”。Program Files 等文件夹需要管理员权限，请另选一个文件夹。"

Function DirectoryLeave
  Call CanWriteInstallDir
  ${If} $0 != 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "${NOT_WRITABLE}"
    Abort
  ${EndIf}
FunctionEnd

; Installs one file of the program directory; a file that cannot be
; written (still in use) ends the install as failed.
!macro InstallFile NAME
  ClearErrors
  File "${SRC}/${NAME}"
  ${If} ${Errors}
    !insertmacro Fail "无法写入“$INSTDIR\${NAME}”，安装未完成。请关闭正在使用它的程序后重新安装。"
  ${EndIf}
!macroend

; Adds the size of one installed file, in bytes, to $1.
!macro AddFileSize NAME
  FileOpen $2 "$INSTDIR\${NAME}" r
  FileSeek $2 0 END $3
  FileClose $2
  IntOp $1 $1 + $3
!macroend

Section "Install"
  SetShellVarContext current
  Call CanWriteInstallDir
  ${If} $0 != 1
    !insertmacro Fail "${NOT_WRITABLE}"
  ${EndIf}
  Call StopProgram
  Call CheckFilesFree
  SetOutPath "$INSTDIR"
  SetOverwrite try
  !insertmacro ForEachProgramFile InstallFile
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    !insertmacro Fail "无法写入“$INSTDIR\uninstall.exe”，安装未完成。"
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quorvel-client.exe"
  StrCpy $1 0
  !insertmacro ForEachProgramFile AddFileSize
  !insertmacro AddFileSize "uninstall.exe"
  IntOp $1 $1 + 1023
  IntOp $1 $1 / 1024
  WriteRegStr HKCU "${REGKEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTKEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\quorvel-client.exe"
  WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTKEY}" "EstimatedSize" $1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
SectionEnd

; Removes one file of the program directory; one that stays (still in
; use) ends the uninstall as failed, the entry in "Apps" kept.
!macro RemoveFile NAME
  ClearErrors
  Delete "$INSTDIR\${NAME}"
  ${If} ${Errors}
    !insertmacro Fail "无法删除“$INSTDIR\${NAME}”，卸载未完成。请关闭正在使用它的程序后重新卸载。"
  ${EndIf}
!macroend

; Removes a folder of the program directory with all it holds; a file that
; stays (a cached video open in a player, say) ends the uninstall as failed,
; the uninstaller and its entry kept to run again.
!macro RemoveFolder NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}\*.*"
    ClearErrors
    RMDir /r "$INSTDIR\${NAME}"
    ${If} ${Errors}
      !insertmacro Fail "无法删除“$INSTDIR\${NAME}”中的全部文件，卸载未完成。请关闭正在使用其中文件的程序（例如播放器）后重新卸载。"
    ${EndIf}
  ${EndIf}
!macroend

; The cached meetings can be large and slow to fetch again: they stay
; unless the operator says otherwise (Enter and a silent uninstall keep
; them).
Section "Uninstall"
  SetShellVarContext current
  Call un.StopProgram
  Call un.CheckFilesFree
  !insertmacro ForEachProgramFile RemoveFile
  !insertmacro RemoveFolder ".caddy"
  Delete "$INSTDIR\quorvel-client.lock"
  IfFileExists "$INSTDIR\assets\*.*" 0 cacheDone
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "同时删除已缓存的会议文件（$INSTDIR\assets）吗？" /SD IDNO IDNO cacheDone
    !insertmacro RemoveFolder "assets"
  cacheDone:
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTKEY}"
  DeleteRegKey HKCU "${REGKEY}"
SectionEnd
