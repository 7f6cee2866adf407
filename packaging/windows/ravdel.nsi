; The Windows installer: installs for the current user only (no administrator rights), adds a
; Start-menu entry and an uninstaller. The uninstaller removes exactly the files it installed:
; the settings file (%APPDATA%\RVD.ini) and event pictures, even those saved in the program's
; folder, stay where they are.
;
;   makensis -DVERSION=0.1.0.0 -DSTAGE=<folder with the files> -DOUTFILE=<installer.exe> ravdel.nsi
;
; scripts/package-windows.sh runs it.

; A 64-bit installer for 64-bit programs (it also runs where only 64-bit Wine is installed),
; Unicode throughout: every path goes to the system in UTF-16, so a user folder outside the ANSI
; code page (a user named with letters the code page lacks) works for the files, the Start-menu
; entry and the uninstaller.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
; Sharp at 144 dots per inch and above, as the program's own window is.
ManifestDPIAware true

!macro Require symbol
  !ifndef ${symbol}
    !error "Define ${symbol} (see scripts/package-windows.sh)"
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require STAGE
!insertmacro Require OUTFILE

!define NAME "Ravdel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "FileDescription" "${NAME} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "see README.md"

!include "MUI2.nsh"
!include "LogicLib.nsh"
; The check box has one line: its text stays short, the page's text says where the program is.
!define MUI_FINISHPAGE_TEXT "${NAME} has been installed on your computer.$\r$\n$\r$\nIt starts in the notification area: click its icon there to open its window."
!define MUI_FINISHPAGE_RUN "$INSTDIR\ravdel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The installed files, one list for the installer and the uninstaller.
!macro Files action
  !insertmacro ${action} "ravdel.exe"
  !insertmacro ${action} "ravdel-monitor.exe"
  !insertmacro ${action} "ravdel-analyse.exe"
  !insertmacro ${action} "README.md"
  !insertmacro ${action} "licenses\libjpeg-turbo.txt"
  !insertmacro ${action} "licenses\libpng.txt"
  !insertmacro ${action} "licenses\zlib.txt"
!macroend
!macro InstallFile name
  File "/oname=${name}" "${STAGE}\${name}"
!macroend
!macro RemoveFile name
  Delete "$INSTDIR\${name}"
!macroend

; A running ravdel.exe holds its files. It is found by its single-instance mutex, and with the
; user's leave (in a silent run without asking) told to close the way Windows asks programs to
; close for an update: WM_QUERYENDSESSION, then WM_ENDSESSION, with ENDSESSION_CLOSEAPP. It
; leaves through its close path, the camera given back. Aborts when the user says no or the
; program does not end within ten seconds.
!define SYNCHRONIZE 0x00100000
!define ENDSESSION_CLOSEAPP 0x00000001
!macro CloseRunningProgramFunction prefix
  Function ${prefix}closeRunningProgram
    Call ${prefix}programRunning
    Pop $0
    ${If} $0 == 0
      Return
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${NAME} is running. OK closes it (monitoring stops), Cancel leaves it running and stops here." /SD IDOK IDOK close
    Abort
    close:
    FindWindow $1 "TMainForm" "${NAME}"
    ${If} $1 != 0
      SendMessage $1 ${WM_QUERYENDSESSION} 0 ${ENDSESSION_CLOSEAPP}
      SendMessage $1 ${WM_ENDSESSION} 1 ${ENDSESSION_CLOSEAPP}
    ${EndIf}
    ${For} $2 1 40
      Sleep 250
      Call ${prefix}programRunning
      Pop $0
      ${If} $0 == 0
        Return
      ${EndIf}
    ${Next}
    MessageBox MB_OK|MB_ICONSTOP "${NAME} could not be closed. Exit it from its icon in the notification area and start again." /SD IDOK
    SetErrorLevel 2
    Abort
  FunctionEnd

  ; 1 on the stack while the program's mutex exists, else 0.
  Function ${prefix}programRunning
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "RVDAMutex") p.r3'
    ${If} $3 == 0
      Push 0
    ${Else}
      System::Call 'kernel32::CloseHandle(p r3)'
      Push 1
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro CloseRunningProgramFunction ""
!insertmacro CloseRunningProgramFunction "un."

Section "Install"
  SetShellVarContext current
  Call closeRunningProgram  ; an upgrade replaces the files it holds
  SetOutPath "$INSTDIR"
  CreateDirectory "$INSTDIR\licenses"
  !insertmacro Files InstallFile
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS"  ; a fresh profile may not have it yet
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\ravdel.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ravdel.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.closeRunningProgram
  ClearErrors
  !insertmacro Files RemoveFile
  ; A file that could not be removed (held open, read-only): no success is reported, and the
  ; uninstaller and its entry stay for another try.
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Some of ${NAME}'s files could not be removed from $INSTDIR. Close the programs that use them and uninstall again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Only when empty: pictures the user kept here stay, and so does the folder.
  RMDir "$INSTDIR\licenses"
  RMDir "$INSTDIR"
SectionEnd
