; The Windows installer: installs for the current user only (no administrator rights), adds a
; Start-menu entry and an uninstaller. The uninstaller removes exactly the files it installed:
; the settings file (%APPDATA%\RVD.ini) and event pictures, even those saved in the program's
; folder, stay where they are.
;
;   makensis -DVERSION=0.1.0.0 -DSTAGE=<folder with the files> -DOUTFILE=<installer.exe> ravdel.nsi
;
; scripts/package-windows.sh runs it.

; A 64-bit installer for 64-bit programs (it also runs where only 64-bit Wine is installed).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

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
!define MUI_FINISHPAGE_RUN "$INSTDIR\ravdel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME} (it opens from its icon in the notification area)"
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

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  CreateDirectory "$INSTDIR\licenses"
  !insertmacro Files InstallFile
  WriteUninstaller "$INSTDIR\uninstall.exe"
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
  !insertmacro Files RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Only when empty: pictures the user kept here stay, and so does the folder.
  RMDir "$INSTDIR\licenses"
  RMDir "$INSTDIR"
SectionEnd
