; The installer of one plug-in with the standalone program beside it, both
; under the plug-in's own name. scripts/package.sh gives every define, the
; first four in the file NAMES:
;   NAME_BYTES, VENDOR_BYTES      the plug-in's name and vendor, byte by byte
;                                 up to a closing zero, as System plug-in struct
;                                 members
;   DISPLAY_NAME, DISPLAY_VENDOR  the same as readable text for the installer's
;                                 own window and version resource
;   VERSION                       X.Y.Z
;   HOST_EXE, PLUGIN_DLL          the files to install
;   OUT_FILE                      the installer to write

Unicode true
Target amd64-unicode
!include "${NAMES}"
SetCompressor /SOLID lzma
RequestExecutionLevel admin
Name "${DISPLAY_NAME}"
OutFile "${OUT_FILE}"
BrandingText "${DISPLAY_NAME} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${DISPLAY_NAME}"
VIAddVersionKey "CompanyName" "${DISPLAY_VENDOR}"
VIAddVersionKey "FileDescription" "${DISPLAY_NAME} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${DISPLAY_VENDOR}"

!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrune Standalone"

Var PluginName ; exactly the text the program names its registry key after
Var VendorName
Var NameFile ; the same made fit for a file or folder name
Var VendorFile
Var DataDir

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The program reads the plug-in's name through the system's ANSI code page,
; so the installer decodes the same bytes the same way on this machine.
!macro DecodeAnsi BYTES RESULT
    System::Call "*(${BYTES}) p .r0"
    System::Call "kernel32::MultiByteToWideChar(i 0, i 0, p r0, i -1, w .r1, i ${NSIS_MAX_STRLEN})"
    System::Free $0
    StrCpy ${RESULT} $1
!macroend

!macro NameFunctions PREFIX
; $R0: a name; on return the name with the characters a file name cannot
; hold replaced and without trailing dots and spaces.
Function ${PREFIX}SafeFileName
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R3 ""
    StrCpy $R1 0
    ${Do}
        StrCpy $R2 $R0 1 $R1
        ${IfThen} $R2 == "" ${|} ${ExitDo} ${|}
        ${If} $R2 == "\"
        ${OrIf} $R2 == "/"
        ${OrIf} $R2 == ":"
        ${OrIf} $R2 == "*"
        ${OrIf} $R2 == "?"
        ${OrIf} $R2 == '"'
        ${OrIf} $R2 == "<"
        ${OrIf} $R2 == ">"
        ${OrIf} $R2 == "|"
            StrCpy $R2 "_"
        ${EndIf}
        StrCpy $R3 "$R3$R2"
        IntOp $R1 $R1 + 1
    ${Loop}
    ${Do}
        StrCpy $R2 $R3 1 -1
        ${If} $R2 == "."
        ${OrIf} $R2 == " "
            StrCpy $R3 $R3 -1
        ${Else}
            ${ExitDo}
        ${EndIf}
    ${Loop}
    ${IfThen} $R3 == "" ${|} StrCpy $R3 "Plug-in" ${|}
    StrCpy $R0 $R3
    Pop $R3
    Pop $R2
    Pop $R1
FunctionEnd

Function ${PREFIX}InitNames
    SetRegView 64
    SetShellVarContext current
    !insertmacro DecodeAnsi "${NAME_BYTES}" $PluginName
    !insertmacro DecodeAnsi "${VENDOR_BYTES}" $VendorName
    StrCpy $R0 $PluginName
    Call ${PREFIX}SafeFileName
    StrCpy $NameFile $R0
    StrCpy $VendorFile ""
    ${If} $VendorName != ""
        StrCpy $R0 $VendorName
        Call ${PREFIX}SafeFileName
        StrCpy $VendorFile $R0
    ${EndIf}
    ${If} $VendorFile != ""
        StrCpy $DataDir "$APPDATA\$VendorFile\$NameFile"
    ${Else}
        StrCpy $DataDir "$APPDATA\$NameFile"
    ${EndIf}
FunctionEnd
!macroend

!insertmacro NameFunctions ""
!insertmacro NameFunctions "un."

; $R0: an existing folder; on return the same folder as the program can read
; it through the system's ANSI code page: by its short name when the long one
; holds letters beyond that page, which the program would read as "?".
Function AnsiReadablePath
    System::Call "kernel32::WideCharToMultiByte(i 0, i 0x400, w R0, i -1, p 0, i 0, p 0, *i .r1) i .r2"
    ${If} $1 <> 0
        System::Call "kernel32::GetShortPathNameW(w R0, w .r3, i ${NSIS_MAX_STRLEN}) i .r2"
        ${IfThen} $2 <> 0 ${|} StrCpy $R0 $3 ${|}
    ${EndIf}
FunctionEnd

Function .onInit
    Call InitNames
    ; /D= on the command line has set the folder already
    ${If} $INSTDIR == ""
        ${If} $VendorFile != ""
            StrCpy $INSTDIR "$PROGRAMFILES64\$VendorFile\$NameFile"
        ${Else}
            StrCpy $INSTDIR "$PROGRAMFILES64\$NameFile"
        ${EndIf}
    ${EndIf}
FunctionEnd

Section
    SetOutPath $INSTDIR
    ; the program loads the library of its own name
    File "/oname=$NameFile.exe" "${HOST_EXE}"
    File "/oname=$NameFile.dll" "${PLUGIN_DLL}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory $DataDir
    StrCpy $R0 $DataDir
    Call AnsiReadablePath
    ; the program appends the state file's name directly: the value must end
    ; in a separator to name the folder
    WriteRegStr HKCU "Software\Kestrune\$PluginName" "contentpath" "$R0\"

    CreateShortcut "$SMPROGRAMS\$NameFile.lnk" "$INSTDIR\$NameFile.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "DisplayName" $PluginName
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "Publisher" $VendorName
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "DisplayIcon" "$INSTDIR\$NameFile.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "InstallLocation" $INSTDIR
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY} $NameFile" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY} $NameFile" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY} $NameFile" "NoRepair" 1
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY} $NameFile" "EstimatedSize" $0
SectionEnd

Function un.onInit
    Call un.InitNames
FunctionEnd

Section Uninstall
    Delete "$INSTDIR\$NameFile.exe"
    Delete "$INSTDIR\$NameFile.dll"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir $INSTDIR
    ${If} $VendorFile != ""
    ${AndIf} $INSTDIR == "$PROGRAMFILES64\$VendorFile\$NameFile"
        RMDir "$PROGRAMFILES64\$VendorFile" ; only when no other product is in it
    ${EndIf}
    Delete "$SMPROGRAMS\$NameFile.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY} $NameFile"

    MessageBox MB_YESNO|MB_ICONQUESTION \
        "Keep the settings and the saved state of $PluginName for a later installation?" \
        /SD IDYES IDYES keep
    DeleteRegKey HKCU "Software\Kestrune\$PluginName"
    DeleteRegKey /ifempty HKCU "Software\Kestrune"
    RMDir /r $DataDir
    ${If} $VendorFile != ""
        RMDir "$APPDATA\$VendorFile"
    ${EndIf}
keep:
SectionEnd
