; The per-machine installer of the Windows programs, built by makensis from packaging/windows
; (CMakeLists.txt there passes VERSION, the path of each program by its name, SOURCEDIR, OUTFILE
; and, when set, SIGN_COMMAND).
;
; Setup /S installs with no question; "<install folder>\uninstall.exe" /S removes.
; The registry and PATH edits go through the System plugin to the Win32 API: Debian's NSIS has
; neither an AccessControl nor an EnVar plugin, and its ReadRegStr cuts a value at 1,024
; characters, shorter than many a system PATH.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define PRODUCT "qamupdate"
!define PUBLISHER "qamupdate"
!define SHORTCUT "QAM Firmware Update"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; The window's own key and its values (LastNUVDir, LastCOM, PrefCOM); kept on removal.
!define WINDOW_KEY "System\CurrentControlSet\Services\Orvane\NUV2"
; Protected DACL: SYSTEM and Administrators as usual, and full control for BUILTIN\Users on this
; key alone (no inheritance flags), so that a standard user's window opens it with full access.
!define WINDOW_KEY_SDDL "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;;KA;;;BU)"
; HKEY_LOCAL_MACHINE as the 64-bit handle value the API compares with (sign-extended).
!define HKLM_HANDLE -2147483646
!define KEY_ALL_ACCESS 0xF003F
!define KEY_QUERY_SET 0x3
!define REG_EXPAND_SZ 2
!define REG_DWORD 4
!define DACL_SECURITY_INFORMATION 4

!ifdef SIGN_COMMAND
!finalize '${SIGN_COMMAND} "%1"' = 0
!uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the installed version is: one folder, one Apps & Features entry.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
Icon "${SOURCEDIR}\ui\QamUpdate.ico"
UninstallIcon "${SOURCEDIR}\ui\QamUpdate.ico"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the qamupdate authors, MIT licence"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${SOURCEDIR}\LICENSE"

Var path       ; buffer: ";" + the system PATH + ";", with room for the install folder
Var pathKey
Var pathType
Var entry      ; ";<install folder>;"

; Reads the system PATH into $path as ";<value>;". Aborts when the key cannot be opened.
!macro ReadSystemPath
    System::Call 'advapi32::RegOpenKeyExW(p ${HKLM_HANDLE}, w "${ENVIRONMENT_KEY}", i 0, i ${KEY_QUERY_SET}, *p .r1) i .r0'
    ${If} $0 <> 0
        Abort "The system PATH cannot be opened (error $0)."
    ${EndIf}
    StrCpy $pathKey $1
    StrCpy $pathType ${REG_EXPAND_SZ}
    StrCpy $2 0
    System::Call 'advapi32::RegQueryValueExW(p $pathKey, w "Path", p 0, *i .r3, p 0, *i .r2) i .r0'
    ${If} $0 == 0
        StrCpy $pathType $3
    ${Else}
        StrCpy $2 0
    ${EndIf}
    StrCpy $entry ";$INSTDIR;"
    StrLen $3 $entry
    IntOp $3 $3 * 2
    IntOp $3 $3 + $2
    IntOp $3 $3 + 8
    System::Alloc $3 ; zero-filled: the value read needs no terminator of its own
    Pop $path
    System::Call 'kernel32::lstrcpyW(p $path, w ";")'
    IntPtrOp $4 $path + 2
    System::Call 'advapi32::RegQueryValueExW(p $pathKey, w "Path", p 0, p 0, p r4, *i r2)'
    System::Call 'kernel32::lstrcatW(p $path, w ";")'
!macroend

; Writes $path without its first and last ";" back, tells running programs, frees everything.
!macro WriteSystemPath
    System::Call 'kernel32::lstrlenW(p $path) i .r2'
    ${If} $2 > 1
        IntOp $3 $2 - 1
        IntOp $3 $3 * 2
        IntPtrOp $3 $path + $3
        System::Call '*$3(&i2 0)'
    ${EndIf}
    IntPtrOp $4 $path + 2
    System::Call 'kernel32::lstrlenW(p r4) i .r2'
    IntOp $2 $2 + 1
    IntOp $2 $2 * 2
    System::Call 'advapi32::RegSetValueExW(p $pathKey, w "Path", i 0, i $pathType, p r4, i r2) i .r0'
    ${If} $0 <> 0
        DetailPrint "The system PATH could not be written (error $0)."
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

!macro CloseSystemPath
    System::Free $path
    System::Call 'advapi32::RegCloseKey(p $pathKey)'
!macroend

Function AddToPath
    !insertmacro ReadSystemPath
    System::Call 'shlwapi::StrStrIW(p $path, w "$entry") p .r5'
    ${If} $5 P= 0
        ; ";a;b;" takes "folder;" after it, ";;" (empty) or ";a;;" lose the extra ";" first.
        System::Call 'kernel32::lstrlenW(p $path) i .r2'
        IntOp $3 $2 - 2
        IntOp $3 $3 * 2
        IntPtrOp $3 $path + $3
        System::Call '*$3(&i2 .r6)'
        ${If} $6 = 59 ; ';'
            IntPtrOp $3 $3 + 2
            System::Call '*$3(&i2 0)'
        ${EndIf}
        StrCpy $6 $entry "" 1
        System::Call 'kernel32::lstrcatW(p $path, w "$6")'
        !insertmacro WriteSystemPath
    ${EndIf}
    !insertmacro CloseSystemPath
FunctionEnd

Function un.RemoveFromPath
    !insertmacro ReadSystemPath
    StrLen $6 $entry
    IntOp $6 $6 - 1
    IntOp $6 $6 * 2
    StrCpy $7 0
    ${Do}
        System::Call 'shlwapi::StrStrIW(p $path, w "$entry") p .r5'
        ${IfThen} $5 P= 0 ${|} ${ExitDo} ${|}
        ; Drop ";folder", keeping the ";" that follows it.
        IntPtrOp $3 $5 + $6
        System::Call 'kernel32::lstrlenW(p r3) i .r2'
        IntOp $2 $2 + 1
        IntOp $2 $2 * 2
        System::Call 'kernel32::RtlMoveMemory(p r5, p r3, p r2)'
        StrCpy $7 1
    ${Loop}
    ${If} $7 = 1
        !insertmacro WriteSystemPath
    ${EndIf}
    !insertmacro CloseSystemPath
FunctionEnd

; The window's key: created when missing, "LastCOM" = 32 unless the key has a "LastCOM" already,
; and the descriptor above.
Function PrepareWindowKey
    System::Call 'advapi32::RegCreateKeyExW(p ${HKLM_HANDLE}, w "${WINDOW_KEY}", i 0, p 0, i 0, i ${KEY_ALL_ACCESS}, p 0, *p .r1, p 0) i .r0'
    ${If} $0 <> 0
        Abort "The key HKLM\${WINDOW_KEY} cannot be created (error $0)."
    ${EndIf}
    System::Call 'advapi32::RegQueryValueExW(p r1, w "LastCOM", p 0, p 0, p 0, p 0) i .r0'
    ${If} $0 <> 0
        System::Call 'advapi32::RegSetValueExW(p r1, w "LastCOM", i 0, i ${REG_DWORD}, *i 32, i 4) i .r0'
    ${EndIf}
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${WINDOW_KEY_SDDL}", i 1, *p .r2, p 0) i .r0'
    ${If} $0 <> 0
        System::Call 'advapi32::RegSetKeySecurity(p r1, i ${DACL_SECURITY_INFORMATION}, p r2) i .r0'
        System::Call 'kernel32::LocalFree(p r2)'
    ${Else}
        StrCpy $0 -1
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p r1)'
    ${If} $0 <> 0
        Abort "Users could not be given access to HKLM\${WINDOW_KEY} (error $0)."
    ${EndIf}
FunctionEnd

Section
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${QamUpdate}"
    File "${qamtool}"
    File "${qamfile}"
    File "/oname=LICENSE.txt" "${SOURCEDIR}\LICENSE"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${SHORTCUT}.lnk" "$INSTDIR\QamUpdate.exe"

    Call PrepareWindowKey
    Call AddToPath

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QamUpdate.exe,0"
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
    Delete "$SMPROGRAMS\${SHORTCUT}.lnk"
    Call un.RemoveFromPath
    Delete "$INSTDIR\QamUpdate.exe"
    Delete "$INSTDIR\qamtool.exe"
    Delete "$INSTDIR\qamfile.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Last, so that a script waiting for the folder to go knows the removal is complete.
    RMDir "$INSTDIR"
SectionEnd
