; The installer of QEL 31 for Windows: qel31-<version>-setup.exe (scripts/windows builds it).
;
; It installs for the user who runs it, into a folder that user may write
; (%LOCALAPPDATA%\Programs\QEL 31), without asking for administrator rights: the program replaces
; itself there when the server demands a newer version. It adds a Start-menu entry and an
; uninstaller, and runs silently with /S (a folder of one's own with /D=FOLDER, last on the line).
; The connection settings (Data\QEL) are the administrator's: written with qel31-settings.exe, kept
; when the program is removed.
;
;   makensis -DVERSION=31.0.0 -DSTAGE=<the folder cmake --install wrote> -DICON=<qel31.ico>
;            -DOUTFILE=<installer> qel31.nsi

; A 64-bit installer for the 64-bit program: it runs where the program does, and without the
; 32-bit subsystem.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | OUTFILE | ICON
  !error "VERSION, STAGE, OUTFILE and ICON must be defined"
!endif

!define PRODUCT "QEL 31"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QEL31"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
Icon "${ICON}"
UninstallIcon "${ICON}"

!include "MUI2.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\QEL 31.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "${PRODUCT}"

Section "QEL 31"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  CreateDirectory "$INSTDIR\Data"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\QEL 31.exe" "" "$INSTDIR\QEL 31.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QEL 31.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there and what an update left; the settings in Data\ stay.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\QEL 31.exe"
  Delete "$INSTDIR\QEL 31.bat"
  Delete "$INSTDIR\QEL 31.bat.part"
  Delete "$INSTDIR\qel31-settings.exe"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\tls"
  RMDir /r "$INSTDIR\tempQEL"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\Data"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
