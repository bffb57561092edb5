; The setup program of ParamPorter for Windows: a per-user installation without administrator
; rights, into %LOCALAPPDATA%\Programs\ParamPorter, with a Start-menu entry and .QX files opened
; by a double-click. The uninstaller removes what was installed and leaves the user's own files:
; RIGPREFS.DAT (beside the program or in %APPDATA%\ParamPorter), the program's settings and the
; history in %LOCALAPPDATA%\ParamPorter.
;
; packaging/windows/build.sh runs it as
;   makensis -DVERSION=2.0.0 -DSTAGE=<staged folder> -DFILES=<files.nsh> -DOUTFILE=<setup.exe> \
;            packaging/windows/paramporter.nsi
; FILES (written by build.sh from the staged folder) defines the macros InstallFiles and
; RemoveFiles, one line per file, so that the uninstaller removes exactly what was installed.

; A 64-bit setup program for a 64-bit program (and one that runs where Windows, or Wine, has no
; 32-bit part).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "${FILES}"

!define APP "ParamPorter"
!define PROGID "ParamPorter.QX"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ParamPorter"
!define CLASSES "Software\Classes"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "Software\${APP}" "InstallDir"
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "CompanyName" "${APP}"
VIAddVersionKey "LegalCopyright" "${APP}"

; makensis works in this script's folder.
!define MUI_ICON "paramporter.ico"
!define MUI_UNICON "paramporter.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\paramporter.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ParamPorter"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Explorer reads the associations again (SHCNE_ASSOCCHANGED).
!macro AssociationsChanged
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Section "ParamPorter"
    SetShellVarContext current
    !insertmacro InstallFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\paramporter.exe" "" \
        "$INSTDIR\paramporter.exe" 0 SW_SHOWNORMAL "" "QX7400 parameter editor"
    WriteRegStr HKCU "Software\${APP}" "InstallDir" "$INSTDIR"

    ; .QX files: ours to open, unless another program already owns them; "Open with" either way.
    ReadRegStr $0 HKCU "${CLASSES}\.QX" ""
    ${If} $0 == ""
    ${OrIf} $0 == "${PROGID}"
        WriteRegStr HKCU "${CLASSES}\.QX" "" "${PROGID}"
    ${EndIf}
    WriteRegStr HKCU "${CLASSES}\.QX\OpenWithProgids" "${PROGID}" ""
    WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "QX7400 Parameter File"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\paramporter.exe",0'
    WriteRegStr HKCU "${CLASSES}\${PROGID}\shell" "" "open"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open" "" "Open with ParamPorter"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" \
        '"$INSTDIR\paramporter.exe" "%1"'
    !insertmacro AssociationsChanged

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\paramporter.exe",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    !insertmacro RemoveFiles
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: RIGPREFS.DAT, the user's, keeps the folder.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"

    DeleteRegKey HKCU "${CLASSES}\${PROGID}"
    DeleteRegValue HKCU "${CLASSES}\.QX\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\.QX\OpenWithProgids"
    ReadRegStr $0 HKCU "${CLASSES}\.QX" ""
    ${If} $0 == "${PROGID}"
        DeleteRegValue HKCU "${CLASSES}\.QX" ""
    ${EndIf}
    DeleteRegKey /ifempty HKCU "${CLASSES}\.QX"
    !insertmacro AssociationsChanged

    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\${APP}"
SectionEnd
