; The Windows installer, made by scripts/package win64|win32 with Debian's makensis:
;   makensis -DVERSION=1.0.0.1 -DARCH=win64|win32 -DSOURCE=<program folder> -DOUTFILE=<setup.exe>
; It installs the program folder into Program Files (the program runs as administrator and
; writes its config.ini there), a Start-menu shortcut and the quillon.publish URL scheme, and an
; uninstaller listed in Add/Remove Programs. The uninstaller removes the files and the scheme's
; keys; the teacher's config.ini and recordings stay unless /REMOVESETTINGS is given (or the
; teacher says so when asked). /S installs and uninstalls silently.
Unicode true
!if "${ARCH}" == "win64"
  Target amd64-unicode
  InstallDir "$PROGRAMFILES64\Quillon Publisher"
!else
  Target x86-unicode
  InstallDir "$PROGRAMFILES\Quillon Publisher"
!endif
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillonPublisher"
!define EXE "quillon-publisher.exe"

Name "Quillon Publisher"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Quillon Publisher"
VIAddVersionKey "FileDescription" "Quillon Publisher setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GPL version 2 or later, see licences"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The scheme's three values hold the command, as the program itself writes them at every start
; (launch/url_protocol_win.cpp).
!macro WriteScheme
  WriteRegStr HKCR "quillon.publish" "URL Protocol" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKCR "quillon.publish\DefaultIcon" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKCR "quillon.publish\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
!macroend

Function .onInit
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
FunctionEnd

Function un.onInit
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
FunctionEnd

Section "Quillon Publisher"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${SOURCE}\${EXE}"
  File "${SOURCE}\Verbena.dll"
  File "${SOURCE}\AppFace.dll"
  File "${SOURCE}\Tindlekit.dll"
  File "${SOURCE}\face.dll"
  File /r "${SOURCE}\licences"
  ; An installed config.ini is the teacher's: a new version keeps it.
  SetOverwrite off
  File "${SOURCE}\config.ini"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  !insertmacro WriteScheme
  CreateShortcut "$SMPROGRAMS\Quillon Publisher.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillon Publisher"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillon Publisher developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The teacher's settings and recordings stay unless asked for.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  IfErrors 0 remove_settings
  IfSilent keep_settings
  MessageBox MB_YESNO|MB_DEFBUTTON2 "Also remove the settings (config.ini) and the recordings?" \
    /SD IDNO IDNO keep_settings
  remove_settings:
    Delete "$INSTDIR\config.ini"
    RMDir /r "$INSTDIR\recordings"
  keep_settings:

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\Verbena.dll"
  Delete "$INSTDIR\AppFace.dll"
  Delete "$INSTDIR\Tindlekit.dll"
  Delete "$INSTDIR\face.dll"
  RMDir /r "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; only when nothing of the teacher's is left

  Delete "$SMPROGRAMS\Quillon Publisher.lnk"
  DeleteRegKey HKCR "quillon.publish"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
