; The Windows installer (NSIS, built by makensis with -INPUTCHARSET UTF8).
; It installs for the current user only, into a directory that user can
; write, since the client keeps its cache (assets\) beside itself. The
; uninstaller removes the program and asks before removing the cache.
; Defines from the build: VERSION, SRC (the program directory), ICON,
; OUTFILE.
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT "Quorvel加速场控"
!define REGKEY "Software\Quorvel\quorvel-client"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quorvel-client"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Quorvel"
InstallDirRegKey HKCU "${REGKEY}" "InstallDir"
SetCompressor /SOLID lzma

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quorvel-client.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${SRC}/quorvel-client.exe"
  File "${SRC}/qv-download.exe"
  File "${SRC}/caddy.exe"
  File "${SRC}/Caddyfile"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quorvel-client.exe"
  WriteRegStr HKCU "${REGKEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\quorvel-client.exe"
  WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
SectionEnd

; The cached meetings can be large and slow to fetch again: they stay
; unless the operator says otherwise (a silent uninstall keeps them).
Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\quorvel-client.exe"
  Delete "$INSTDIR\qv-download.exe"
  Delete "$INSTDIR\caddy.exe"
  Delete "$INSTDIR\Caddyfile"
  RMDir /r "$INSTDIR\.caddy"
  IfFileExists "$INSTDIR\assets\*.*" 0 cacheDone
    MessageBox MB_YESNO|MB_ICONQUESTION "同时删除已缓存的会议文件（$INSTDIR\assets）吗？" /SD IDNO IDNO cacheDone
    RMDir /r "$INSTDIR\assets"
  cacheDone:
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTKEY}"
  DeleteRegKey HKCU "${REGKEY}"
SectionEnd
