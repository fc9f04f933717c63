; The setup program of the camera's capture source: both modules in place
; (the 64-bit one only on 64-bit Windows), each registered by the regsvr32
; of its own bitness, an entry in the system's list of installed programs,
; and an uninstaller that leaves nothing behind. Built by tools/package.sh:
;   makensis -DVERSION=1.2.3 -DMODULE64=... -DMODULE32=... -DOUTFILE=... kv20x.nsi
;
; Exit codes (silent mode, /S): 0 installed; 2 a module could not be
; registered (nothing is left installed); 3 a newer version is installed
; (nothing changed); 1 cancelled or failed otherwise.

Unicode true
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"

!ifndef VERSION
  !error "VERSION, MODULE64, MODULE32 and OUTFILE are defined by tools/package.sh"
!endif
!ifndef MODULE64
  !error "MODULE64 is defined by tools/package.sh"
!endif
!ifndef MODULE32
  !error "MODULE32 is defined by tools/package.sh"
!endif
!ifndef OUTFILE
  !error "OUTFILE is defined by tools/package.sh"
!endif

!define PRODUCT "Quorl T5R 3.1M Camera"
!define COMPANY "ORBILUX"
!define FOLDER "ORBILUX\KV20X"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KV20X"
!define SETTINGS_KEY "Software\ORBILUX \KV20X"
!define SETTINGS_VENDOR_KEY "Software\ORBILUX "

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
InstallDir "$PROGRAMFILES32\${FOLDER}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COMPANY}"

; No folder to choose: each module goes to the program files folder of its
; bitness.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Folder64     ; the 64-bit module's folder ("" on 32-bit Windows)
Var Folder32     ; the 32-bit module's folder
Var Regsvr64     ; the regsvr32 of each bitness
Var Regsvr32
Var HeldAside    ; a module an application held was moved aside

; The folders and the regsvr32 of each bitness. Called with the file system
; redirection of 32-bit processes turned off, so that System32 is the 64-bit
; system folder.
!macro Locations
  ${If} ${RunningX64}
    StrCpy $Folder64 "$PROGRAMFILES64\${FOLDER}"
    StrCpy $Regsvr64 "$WINDIR\System32\regsvr32.exe"
    StrCpy $Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe"
  ${Else}
    StrCpy $Folder64 ""
    StrCpy $Regsvr32 "$WINDIR\System32\regsvr32.exe"
  ${EndIf}
  StrCpy $Folder32 "$PROGRAMFILES32\${FOLDER}"
!macroend

; Puts a module in place. One that an application holds cannot be
; overwritten, but it can be moved aside: the new one goes in its place at
; once (new applications load it), the application keeps the old one until
; it closes it, and the old file goes at the next restart.
!macro PlaceModule FOLDER SOURCE
  CreateDirectory "${FOLDER}"
  ClearErrors
  Delete "${FOLDER}\KV20X.ax"
  ${If} ${Errors}
    Delete "${FOLDER}\KV20X.ax.old"
    Rename "${FOLDER}\KV20X.ax" "${FOLDER}\KV20X.ax.old"
    Delete /REBOOTOK "${FOLDER}\KV20X.ax.old"
    StrCpy $HeldAside 1
  ${EndIf}
  SetOutPath "${FOLDER}"
  File "/oname=KV20X.ax" "${SOURCE}"
!macroend

; Runs a regsvr32 silently; $0 is its exit code.
!macro Regsvr REGSVR ARGS MODULE
  ExecWait '"${REGSVR}" /s ${ARGS} "${MODULE}"' $0
!macroend

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; A newer installation is not replaced by an older setup.
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $1 != ""
    ${VersionCompare} "$1" "${VERSION}" $2
    ${If} $2 == 1
      MessageBox MB_ICONEXCLAMATION|MB_OK "Version $1 of the ${PRODUCT} is installed, newer than this setup's ${VERSION}. \
Remove it first to install this version." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${EndIf}
  ${If} ${RunningX64}
    StrCpy $INSTDIR "$PROGRAMFILES64\${FOLDER}"
  ${EndIf}
FunctionEnd

Section "Install"
  SetShellVarContext all
  ${DisableX64FSRedirection}
  !insertmacro Locations
  StrCpy $HeldAside 0

  ${If} $Folder64 != ""
    !insertmacro PlaceModule $Folder64 "${MODULE64}"
  ${EndIf}
  !insertmacro PlaceModule $Folder32 "${MODULE32}"

  ; Each module registered by the regsvr32 of its bitness; a failure undoes
  ; the whole install.
  ${If} $Folder64 != ""
    !insertmacro Regsvr $Regsvr64 "" "$Folder64\KV20X.ax"
    ${If} $0 != 0
      StrCpy $R9 "the 64-bit module (regsvr32 answered $0)"
      Goto failed
    ${EndIf}
  ${EndIf}
  !insertmacro Regsvr $Regsvr32 "" "$Folder32\KV20X.ax"
  ${If} $0 != 0
    StrCpy $R9 "the 32-bit module (regsvr32 answered $0)"
    Goto failed
  ${EndIf}

  ; The uninstaller lives with the module of the system's own bitness.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$Folder32" "/S=0K" $1 $2 $3
  StrCpy $4 $1
  ${If} $Folder64 != ""
    ${GetSize} "$Folder64" "/S=0K" $1 $2 $3
    IntOp $4 $4 + $1
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $4

  ${If} $HeldAside == 1
    DetailPrint "An application had the camera module open: it keeps the old version until it closes it; \
the old file is removed at the next restart."
    SetRebootFlag true
  ${EndIf}
  Return

failed:
  ; Nothing of this install stays: both registrations undone, both files
  ; and folders gone (out of them first: a folder in use as the current
  ; one cannot be removed).
  SetOutPath "$TEMP"
  ${If} $Folder64 != ""
    !insertmacro Regsvr $Regsvr64 "/u" "$Folder64\KV20X.ax"
    Delete /REBOOTOK "$Folder64\KV20X.ax"
    RMDir "$Folder64"
    RMDir "$PROGRAMFILES64\${COMPANY}"
  ${EndIf}
  !insertmacro Regsvr $Regsvr32 "/u" "$Folder32\KV20X.ax"
  Delete /REBOOTOK "$Folder32\KV20X.ax"
  RMDir "$Folder32"
  RMDir "$PROGRAMFILES32\${COMPANY}"
  MessageBox MB_ICONSTOP|MB_OK "The ${PRODUCT} could not be installed: Windows could not register $R9. \
Nothing was installed." /SD IDOK
  SetErrorLevel 2
  Quit
SectionEnd

; Uninstalling: both modules unregistered (their class keys, filter entries
; and device entries go with them), the files, folders and the uninstall
; entry removed. The users' camera settings stay, as users expect when they
; reinstall; /REMOVESETTINGS removes the current user's too.
Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ${DisableX64FSRedirection}
  !insertmacro Locations
  ${If} $Folder64 != ""
    !insertmacro Regsvr $Regsvr64 "/u" "$Folder64\KV20X.ax"
    Delete /REBOOTOK "$Folder64\KV20X.ax"
    Delete /REBOOTOK "$Folder64\KV20X.ax.old"
  ${EndIf}
  !insertmacro Regsvr $Regsvr32 "/u" "$Folder32\KV20X.ax"
  Delete /REBOOTOK "$Folder32\KV20X.ax"
  Delete /REBOOTOK "$Folder32\KV20X.ax.old"
  Delete "$INSTDIR\uninstall.exe"
  ${If} $Folder64 != ""
    RMDir /REBOOTOK "$Folder64"
    RMDir "$PROGRAMFILES64\${COMPANY}"
  ${EndIf}
  RMDir /REBOOTOK "$Folder32"
  RMDir "$PROGRAMFILES32\${COMPANY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/REMOVESETTINGS" $2
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${SETTINGS_VENDOR_KEY}"
  ${EndIf}
SectionEnd
