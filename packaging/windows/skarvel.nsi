; Skarvel installer: installs for the current user only (no administrator
; rights), adds a Start-menu entry and an uninstaller.
; makensis -DSOURCE_DIR=<deployed folder> -DOUT_FILE=<installer> -DVERSION=<x.y>
Unicode true
; A 64-bit program, and the 64-bit stub also runs under a 64-bit-only Wine.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

Name "Skarvel ${VERSION}"
OutFile "${OUT_FILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Skarvel"
InstallDirRegKey HKCU "Software\Orvantic\Skarvel" "InstallDir"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Skarvel"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Skarvel"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${SOURCE_DIR}/*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Skarvel"
  CreateShortcut "$SMPROGRAMS\Skarvel\Skarvel.lnk" "$INSTDIR\skarvel.exe"
  CreateShortcut "$SMPROGRAMS\Skarvel\Uninstall Skarvel.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "Software\Orvantic\Skarvel" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Skarvel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Orvantic"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Skarvel\Skarvel.lnk"
  Delete "$SMPROGRAMS\Skarvel\Uninstall Skarvel.lnk"
  RMDir "$SMPROGRAMS\Skarvel"
  ; Skarvel.ini stays: it holds the user's settings.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  RMDir /r "$INSTDIR\tls"
  RMDir /r "$INSTDIR\multimedia"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\qt.conf"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Orvantic\Skarvel"
SectionEnd
