; The setup program of the camera's capture source: both modules in place
; (the 64-bit one only on 64-bit Windows), each registered by the regsvr32
; of its own bitness, an entry in the system's list of installed programs,
; and an uninstaller that leaves nothing behind. Built by tools/package.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.2.3 -DMODULE64=... -DMODULE32=... -DOUTFILE=... kv20x.nsi
; with -DSIGN_COMMAND=... when the files are signed: the uninstaller is
; signed with it before it goes into the setup.
;
; Whole or nothing: the new files are written beside the old ones first, the
; old modules (and uninstaller) are moved aside, never deleted, until both
; new modules are registered and the entry written; any failure on the way
; puts the old files back and registers them again, or, where there were
; none, undoes the new registration, so that what was installed before is
; as it was.
;
; Exit codes (the same in silent mode, /S, and interactively):
;      0  installed
;   3010  installed; a module an application still holds is removed at the
;         next restart (ERROR_SUCCESS_REBOOT_REQUIRED)
;   1603  not installed: a file could not be put in place or a module could
;         not be registered; what was installed before is as it was
;         (ERROR_INSTALL_FAILURE)
;   1638  not installed: a newer version is installed (ERROR_PRODUCT_VERSION)
;    740  not installed: the setup does not run as an administrator
;         (ERROR_ELEVATION_REQUIRED)
;   1618  not installed: another setup or uninstall of the camera is running
;         (ERROR_INSTALL_ALREADY_RUNNING)
;   1633  not installed: not Windows on an x86 or x64 processor, Windows on
;         ARM included (ERROR_INSTALL_PLATFORM_UNSUPPORTED)
;      1  cancelled by the user (interactive only)
; The uninstaller answers 0, 3010, 1603 (a registration could not be
; removed: nothing was removed), 740, 1618 and 1633 in the same sense.

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
; Setups and uninstallers of the camera, in every session, run one at a time.
!define MUTEX "Global\KV20X-Setup"

; What a registration of the module writes in a registry view: its classes,
; its entry in the default filter category (and the older mapper's "Filter"
; key) and its entry in the video input device category.
!define CLASS_FILTER "{99D56D64-7A37-4F84-BF61-98445E175985}"
!define CLASS_SIZE_PAGE "{CFBE4593-1111-455B-ABD7-A2A17FA00CC8}"
!define CLASS_SETUP_PAGE "{87869342-3548-4FDC-BA44-A0A4841CDF01}"
!define FILTER_ENTRIES "CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance"
!define DEVICE_ENTRIES "CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"

!define EXIT_RESTART 3010
!define EXIT_FAILED 1603
!define EXIT_NEWER 1638
!define EXIT_NOT_ADMIN 740
!define EXIT_BUSY 1618
!define EXIT_UNSUPPORTED 1633

; The machines the modules run on (IMAGE_FILE_MACHINE_*).
!define MACHINE_I386 332
!define MACHINE_AMD64 34404

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written fails the setup, also in silent mode.
AllowSkipFiles off
InstallDir "$PROGRAMFILES32\${FOLDER}"

!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"
!include "${__FILEDIR__}\strings.nsh"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COMPANY}"

; No folder to choose: each module goes to the program files folder of its
; bitness (/D= is ignored).
Page instfiles
UninstPage uninstConfirm
UninstPage components
UninstPage instfiles

Var Folder64       ; the 64-bit module's folder ("" on 32-bit Windows)
Var Folder32       ; the 32-bit module's folder
Var Regsvr64       ; the regsvr32 of each bitness
Var Regsvr32
; The install's steps, for the way back. New*: a new file written under a
; free name beside its place, "" once in place or gone. Aside*: the old file
; moved aside ("" if there was none). Placed*: the new module is in place.
; Registered*: the new module is registered.
Var New64
Var New32
Var NewUninstaller
Var Aside64
Var Aside32
Var AsideUninstaller
Var PlacedUninstaller
Var Placed64
Var Placed32
Var Registered64
Var Registered32
Var OldVersion     ; the entry's version before ("" without an entry)
Var OldSize
Var Failure        ; what failed, for the message
Var RestoreFailed  ; the previous version could not be put back whole
Var Left           ; the uninstaller: a registration is still there

; ---------------------------------------------------------------------------
; Shared by the setup and the uninstaller

; The language of the setup's pages and messages: simplified Chinese where
; the user's language is Chinese (PRC), as the module's property pages
; choose, English everywhere else.
!macro ChooseLanguage
  System::Call 'kernel32::GetUserDefaultLangID() i .r0'
  ${If} $0 = 2052
    StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
  ${Else}
    StrCpy $LANGUAGE ${LANG_ENGLISH}
  ${EndIf}
!macroend

; The machine's own processor. A test build may take it as given, to show
; the refusal on a machine it cannot be: it can only refuse, never pass.
!macro NativeMachine VAR
  !ifdef TEST_NATIVE_MACHINE
    StrCpy ${VAR} ${TEST_NATIVE_MACHINE}
  !else
    ${GetNativeMachineArchitecture} ${VAR}
  !endif
!macroend

; Quits with its exit code, in this order: not an x86 or x64 machine (the
; x64 check alone is true under emulation on ARM, where the native regsvr32
; cannot load the x64 module), no administrator (a standard user with UAC
; off would get as far as "could not register"), another setup or uninstall
; running. The mutex stays held until the process ends.
!macro RefuseWhatCannotWork NOT_ADMIN_MESSAGE
  !insertmacro NativeMachine $0
  ${If} $0 != ${MACHINE_I386}
  ${AndIf} $0 != ${MACHINE_AMD64}
    MessageBox MB_ICONSTOP|MB_OK "$(MsgUnsupported)" /SD IDOK
    SetErrorLevel ${EXIT_UNSUPPORTED}
    Quit
  ${EndIf}
  ; The token's own answer: a member of the Administrators group only for
  ; denying (a standard user, or an administrator not elevated) is none.
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "${NOT_ADMIN_MESSAGE}" /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w "${MUTEX}") p .r1 ?e'
  Pop $0
  ${If} $1 = 0
  ${OrIf} $0 = 183 ; ERROR_ALREADY_EXISTS
    MessageBox MB_ICONSTOP|MB_OK "$(MsgBusy)" /SD IDOK
    SetErrorLevel ${EXIT_BUSY}
    Quit
  ${EndIf}
!macroend

; The folders and the regsvr32 of each bitness. Used with the file system
; redirection of 32-bit processes turned off, so that System32 is the 64-bit
; system folder. $INSTDIR, where the uninstaller goes, is always the folder
; of the system's bitness: /D= and the uninstaller's own place change
; nothing.
!macro Locations
  ${If} ${RunningX64}
    StrCpy $Folder64 "$PROGRAMFILES64\${FOLDER}"
    StrCpy $Regsvr64 "$WINDIR\System32\regsvr32.exe"
    StrCpy $Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe"
    StrCpy $INSTDIR $Folder64
  ${Else}
    StrCpy $Folder64 ""
    StrCpy $Regsvr32 "$WINDIR\System32\regsvr32.exe"
  ${EndIf}
  StrCpy $Folder32 "$PROGRAMFILES32\${FOLDER}"
  ${IfNot} ${RunningX64}
    StrCpy $INSTDIR $Folder32
  ${EndIf}
!macroend

; Runs a regsvr32 silently; $0 is its exit code, or "not started" when it
; could not be started (ExecWait then leaves $0 as it was).
!macro Regsvr REGSVR ARGS MODULE
  StrCpy $0 "not started"
  ClearErrors
  ExecWait '"${REGSVR}" /s ${ARGS} "${MODULE}"' $0
  ${If} ${Errors}
    StrCpy $0 "not started"
  ${EndIf}
!macroend

; Removes what a registration writes from one registry view itself, for a
; module that cannot unregister itself (missing, unloadable, blocked), and
; sets $Left to 1 when any of it is still there. Ends in the view of the
; system's bitness.
!macro RemoveRegistration VIEW
  SetRegView ${VIEW}
  DeleteRegKey HKCR "CLSID\${CLASS_FILTER}"
  DeleteRegKey HKCR "CLSID\${CLASS_SIZE_PAGE}"
  DeleteRegKey HKCR "CLSID\${CLASS_SETUP_PAGE}"
  DeleteRegKey HKCR "${FILTER_ENTRIES}\${CLASS_FILTER}"
  DeleteRegKey HKCR "Filter\${CLASS_FILTER}"
  DeleteRegKey HKCR "${DEVICE_ENTRIES}\${PRODUCT}"
  DeleteRegKey /ifempty HKCR "${DEVICE_ENTRIES}"
  !insertmacro IfKeyThere "CLSID\${CLASS_FILTER}"
  !insertmacro IfKeyThere "CLSID\${CLASS_SIZE_PAGE}"
  !insertmacro IfKeyThere "CLSID\${CLASS_SETUP_PAGE}"
  !insertmacro IfKeyThere "${FILTER_ENTRIES}\${CLASS_FILTER}"
  !insertmacro IfKeyThere "${DEVICE_ENTRIES}\${PRODUCT}"
  ${If} ${RunningX64}
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
!macroend

!macro IfKeyThere KEY
  ClearErrors
  EnumRegKey $R8 HKCR "${KEY}" 0
  ${IfNot} ${Errors}
    StrCpy $Left 1
  ${EndIf}
!macroend

; Pushes a name beside the file given that is not taken yet: <file><n>.
Function FreeName
  Exch $R0
  Push $R1
  StrCpy $R1 1
  ${While} ${FileExists} "$R0$R1"
    IntOp $R1 $R1 + 1
  ${EndWhile}
  StrCpy $R0 "$R0$R1"
  Pop $R1
  Exch $R0
FunctionEnd

; ---------------------------------------------------------------------------
; The setup

Function .onInit
  !insertmacro ChooseLanguage
  !insertmacro RefuseWhatCannotWork "$(MsgNotAdmin)"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; A newer installation is not replaced by an older setup.
  ReadRegStr $OldVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegDWORD $OldSize HKLM "${UNINSTALL_KEY}" "EstimatedSize"
  ${If} $OldVersion != ""
    ${VersionCompare} "$OldVersion" "${VERSION}" $2
    ${If} $2 == 1
      StrCpy $1 $OldVersion
      MessageBox MB_ICONEXCLAMATION|MB_OK "$(MsgNewer)" /SD IDOK
      SetErrorLevel ${EXIT_NEWER}
      Quit
    ${EndIf}
  ${EndIf}
  SetShellVarContext all
  ${DisableX64FSRedirection}
  !insertmacro Locations
FunctionEnd

; Writes a new module beside its place, under a free name.
!macro WriteNew FOLDER SOURCE NEW
  StrCpy $R9 "${FOLDER}"
  ClearErrors
  CreateDirectory "${FOLDER}"
  ${If} ${Errors}
    StrCpy $Failure "$(ReasonWrite)"
    Goto failed
  ${EndIf}
  Push "${FOLDER}\KV20X.ax.new"
  Call FreeName
  Pop ${NEW}
  SetOutPath "${FOLDER}"
  ; A file that cannot be written ends the install here (AllowSkipFiles
  ; off): .onInstFailed takes the way back.
  File "/oname=${NEW}" "${SOURCE}"
!macroend

; Moves a file aside under a free name, if it is there. A module that an
; application holds cannot be deleted or overwritten, but it can be moved:
; the application keeps it until it closes it.
!macro MoveAside FILE ASIDE
  StrCpy ${ASIDE} ""
  ${If} ${FileExists} "${FILE}"
    Push "${FILE}.old"
    Call FreeName
    Pop ${ASIDE}
    ClearErrors
    Rename "${FILE}" "${ASIDE}"
    ${If} ${Errors}
      StrCpy $R9 "${FILE}"
      StrCpy ${ASIDE} ""
      StrCpy $Failure "$(ReasonMoveAside)"
      Goto failed
    ${EndIf}
  ${EndIf}
!macroend

; Puts a new file in its place.
!macro PutInPlace NEW FILE PLACED
  ClearErrors
  Rename "${NEW}" "${FILE}"
  ${If} ${Errors}
    StrCpy $R9 "${FILE}"
    StrCpy $Failure "$(ReasonWrite)"
    Goto failed
  ${EndIf}
  StrCpy ${NEW} ""
  StrCpy ${PLACED} 1
!macroend

!macro RegisterNew REGSVR FOLDER REGISTERED REASON_FAILED REASON_NOT_STARTED
  !insertmacro Regsvr ${REGSVR} "" "${FOLDER}\KV20X.ax"
  ${If} $0 == "not started"
    StrCpy $Failure "${REASON_NOT_STARTED}"
    Goto failed
  ${ElseIf} $0 != 0
    StrCpy $Failure "${REASON_FAILED}"
    Goto failed
  ${EndIf}
  StrCpy ${REGISTERED} 1
!macroend

; Removes a file now, or at the next restart when something holds it (the
; restart flag is set then).
!macro DeleteNowOrAtRestart FILE
  ${If} ${FileExists} "${FILE}"
    ClearErrors
    Delete "${FILE}"
    ${If} ${Errors}
      Delete /REBOOTOK "${FILE}"
    ${EndIf}
  ${EndIf}
!macroend

Section "Install"
  StrCpy $Placed64 0
  StrCpy $Placed32 0
  StrCpy $Registered64 0
  StrCpy $Registered32 0
  StrCpy $PlacedUninstaller 0
  StrCpy $RestoreFailed 0

  ; The new files beside the old ones: nothing has changed yet.
  ${If} $Folder64 != ""
    !insertmacro WriteNew $Folder64 "${MODULE64}" $New64
  ${EndIf}
  !insertmacro WriteNew $Folder32 "${MODULE32}" $New32
  Push "$INSTDIR\uninstall.exe.new"
  Call FreeName
  Pop $NewUninstaller
  ClearErrors
  WriteUninstaller $NewUninstaller
  ${If} ${Errors}
    StrCpy $R9 $NewUninstaller
    StrCpy $Failure "$(ReasonWrite)"
    Goto failed
  ${EndIf}

  ; The old files aside, the new ones in their place.
  ${If} $Folder64 != ""
    !insertmacro MoveAside "$Folder64\KV20X.ax" $Aside64
  ${EndIf}
  !insertmacro MoveAside "$Folder32\KV20X.ax" $Aside32
  !insertmacro MoveAside "$INSTDIR\uninstall.exe" $AsideUninstaller
  ${If} $Folder64 != ""
    !insertmacro PutInPlace $New64 "$Folder64\KV20X.ax" $Placed64
  ${EndIf}
  !insertmacro PutInPlace $New32 "$Folder32\KV20X.ax" $Placed32
  ClearErrors
  Rename $NewUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    StrCpy $R9 "$INSTDIR\uninstall.exe"
    StrCpy $Failure "$(ReasonWrite)"
    Goto failed
  ${EndIf}
  StrCpy $NewUninstaller ""
  StrCpy $PlacedUninstaller 1

  ; Each module registered by the regsvr32 of its bitness.
  ${If} $Folder64 != ""
    !insertmacro RegisterNew $Regsvr64 $Folder64 $Registered64 "$(ReasonRegister64)" "$(ReasonNoRegsvr64)"
  ${EndIf}
  !insertmacro RegisterNew $Regsvr32 $Folder32 $Registered32 "$(ReasonRegister32)" "$(ReasonNoRegsvr32)"

  ; The entry in the installed programs. The quiet uninstall runs the
  ; uninstaller in place (_?=), so that it returns only when it is done.
  ${GetSize} "$Folder32" "/M=KV20X.ax /S=0K /G=0" $4 $2 $3
  ${If} $Folder64 != ""
    ${GetSize} "$Folder64" "/M=KV20X.ax /S=0K /G=0" $1 $2 $3
    IntOp $4 $4 + $1
  ${EndIf}
  ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0K /G=0" $1 $2 $3
  IntOp $4 $4 + $1
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $4
  ${If} ${Errors}
    StrCpy $Failure "$(ReasonEntry)"
    Goto failed
  ${EndIf}

  ; Done: the old files go, now or at the next restart when an application
  ; still holds one. Files an earlier upgrade left aside for the same reason
  ; go now if they can; the restart that upgrade asked for removes the rest.
  ${If} $Aside64 != ""
    !insertmacro DeleteNowOrAtRestart $Aside64
  ${EndIf}
  ${If} $Aside32 != ""
    !insertmacro DeleteNowOrAtRestart $Aside32
  ${EndIf}
  ${If} $AsideUninstaller != ""
    !insertmacro DeleteNowOrAtRestart $AsideUninstaller
  ${EndIf}
  ${If} $Folder64 != ""
    Delete "$Folder64\KV20X.ax.old*"
  ${EndIf}
  Delete "$Folder32\KV20X.ax.old*"
  ${If} ${RebootFlag}
    DetailPrint "$(MsgHeld)"
    MessageBox MB_ICONINFORMATION|MB_OK "$(MsgHeld)" /SD IDOK
    SetErrorLevel ${EXIT_RESTART}
  ${EndIf}
  Return

failed:
  DetailPrint $Failure
  Call RollBack
  ${If} $RestoreFailed == 1
    MessageBox MB_ICONSTOP|MB_OK "$(MsgNotRestored)" /SD IDOK
  ${Else}
    MessageBox MB_ICONSTOP|MB_OK "$(MsgFailed)" /SD IDOK
  ${EndIf}
  SetErrorLevel ${EXIT_FAILED}
  Abort
SectionEnd

; The way back for one folder: the new module out; the old one back in its
; place and registered again, or, where there was none, the new
; registration undone (by the module, else by hand) and the folder gone.
!macro RollBackFolder FOLDER REGSVR VIEW NEW ASIDE PLACED REGISTERED
  ${If} ${NEW} != ""
    !insertmacro DeleteNowOrAtRestart ${NEW}
    StrCpy ${NEW} ""
  ${EndIf}
  ${If} ${PLACED} == 1
    ${If} ${ASIDE} == ""
    ${AndIf} ${REGISTERED} == 1
      !insertmacro Regsvr ${REGSVR} "/u" "${FOLDER}\KV20X.ax"
      ${If} $0 != 0
        StrCpy $Left 0
        !insertmacro RemoveRegistration ${VIEW}
        ${If} $Left == 1
          StrCpy $RestoreFailed 1
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ; Out of the way under a free name first: a file something still reads
    ; cannot be deleted at once, but must not stay in the old one's place.
    Push "${FOLDER}\KV20X.ax.failed"
    Call FreeName
    Pop $R7
    ClearErrors
    Rename "${FOLDER}\KV20X.ax" $R7
    ${If} ${Errors}
      StrCpy $RestoreFailed 1
    ${Else}
      !insertmacro DeleteNowOrAtRestart $R7
      StrCpy ${PLACED} 0
    ${EndIf}
  ${EndIf}
  ${If} ${ASIDE} != ""
  ${AndIf} ${PLACED} == 0
    ClearErrors
    Rename ${ASIDE} "${FOLDER}\KV20X.ax"
    ${If} ${Errors}
      StrCpy $RestoreFailed 1
    ${Else}
      StrCpy ${ASIDE} ""
      !insertmacro Regsvr ${REGSVR} "" "${FOLDER}\KV20X.ax"
      ${If} $0 != 0
        StrCpy $RestoreFailed 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  RMDir "${FOLDER}"
!macroend

Function RollBack
  SetOutPath "$TEMP" ; a folder in use as the current one cannot be removed
  ${If} $Folder64 != ""
    !insertmacro RollBackFolder $Folder64 $Regsvr64 64 $New64 $Aside64 $Placed64 $Registered64
  ${EndIf}
  !insertmacro RollBackFolder $Folder32 $Regsvr32 32 $New32 $Aside32 $Placed32 $Registered32
  ; The uninstaller: the new one out, the old one back.
  ${If} $NewUninstaller != ""
    !insertmacro DeleteNowOrAtRestart $NewUninstaller
    StrCpy $NewUninstaller ""
  ${EndIf}
  ${If} $PlacedUninstaller == 1
    !insertmacro DeleteNowOrAtRestart "$INSTDIR\uninstall.exe"
    StrCpy $PlacedUninstaller 0
  ${EndIf}
  ${If} $AsideUninstaller != ""
    ClearErrors
    Rename $AsideUninstaller "$INSTDIR\uninstall.exe"
    ${If} ${Errors}
      StrCpy $RestoreFailed 1
    ${EndIf}
    StrCpy $AsideUninstaller ""
  ${EndIf}
  ; The entry as it was: the version and size of the previous one, or none.
  ${If} $OldVersion != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" $OldVersion
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $OldSize
  ${Else}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} $Folder64 != ""
    RMDir "$Folder64"
    RMDir "$PROGRAMFILES64\${COMPANY}"
  ${EndIf}
  RMDir "$Folder32"
  RMDir "$PROGRAMFILES32\${COMPANY}"
FunctionEnd

; A file that could not be written ends the section before its own way back.
Function .onInstFailed
  ${If} $Failure == ""
    StrCpy $Failure "$(ReasonWrite)"
    Call RollBack
    SetErrorLevel ${EXIT_FAILED}
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------
; The uninstaller: both modules unregistered (their class keys, filter
; entries and device entries go with them; where a module cannot do it, the
; uninstaller removes them itself), then the files, the folders and the
; entry. It removes the installed folders whatever copy of it runs, and
; never the files beside a copy. The users' camera settings stay, as users
; expect when they reinstall, unless "the camera settings" is chosen on the
; components page or /REMOVESETTINGS given: those of the account running the
; uninstaller (for an uninstall elevated with other credentials or run by a
; deployment tool, that account, not the signed-in user).

!define MOVEFILE_DELAY_UNTIL_REBOOT 4

; What setups leave beside the files for a while: old ones moved aside, new
; ones not yet in place. (A pattern ending in ".*" would match the file
; itself: "uninstall.exe.*" matches the running uninstaller.)
!macro DeleteLeftovers FOLDER
  Delete /REBOOTOK "${FOLDER}\KV20X.ax.old*"
  Delete /REBOOTOK "${FOLDER}\KV20X.ax.new*"
  Delete /REBOOTOK "${FOLDER}\KV20X.ax.failed*"
  Delete /REBOOTOK "${FOLDER}\uninstall.exe.old*"
  Delete /REBOOTOK "${FOLDER}\uninstall.exe.new*"
!macroend

; Removes a folder that is empty now, or that only the running uninstaller
; keeps from being empty: that one goes at the next restart.
!macro RemoveFolder FOLDER
  ClearErrors
  RMDir "${FOLDER}"
  ${If} ${Errors}
  ${AndIf} ${FileExists} "${FOLDER}\*.*"
    System::Call 'kernel32::MoveFileExW(w "${FOLDER}", p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i'
  ${EndIf}
!macroend

!macro UnregisterFolder FOLDER REGSVR VIEW
  !insertmacro Regsvr ${REGSVR} "/u" "${FOLDER}\KV20X.ax"
  ${If} $0 != 0
    StrCpy $R9 "${FOLDER}\KV20X.ax"
    DetailPrint "$(MsgUnregisterByHand)"
    !insertmacro RemoveRegistration ${VIEW}
  ${EndIf}
!macroend

Section "un.$(SectionModules)" SecModules
  SectionIn RO
  ; The registrations first: as long as one is left, the files and the
  ; entry stay, so that the uninstall can be run again.
  StrCpy $Left 0
  ${If} $Folder64 != ""
    !insertmacro UnregisterFolder $Folder64 $Regsvr64 64
  ${EndIf}
  !insertmacro UnregisterFolder $Folder32 $Regsvr32 32
  ${If} $Left == 1
    MessageBox MB_ICONSTOP|MB_OK "$(MsgUnFailed)" /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort
  ${EndIf}

  SetOutPath "$TEMP"
  ${If} $Folder64 != ""
    !insertmacro DeleteNowOrAtRestart "$Folder64\KV20X.ax"
    !insertmacro DeleteLeftovers "$Folder64"
  ${EndIf}
  !insertmacro DeleteNowOrAtRestart "$Folder32\KV20X.ax"
  !insertmacro DeleteLeftovers "$Folder32"
  ${If} $EXEPATH == "$INSTDIR\uninstall.exe"
    ; Run in place (_?=): a running program cannot be deleted, but Windows
    ; lets it be moved out of the folder, and it goes from there at the next
    ; restart. Where even that is refused (Wine), it and its folders go at
    ; the next restart. Nothing waits for that restart: the camera is gone
    ; already, so no restart is asked for.
    GetTempFileName $R0
    Delete $R0
    ClearErrors
    Rename $EXEPATH $R0
    ${If} ${Errors}
      StrCpy $R0 $EXEPATH
    ${EndIf}
    System::Call 'kernel32::MoveFileExW(w R0, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i'
  ${Else}
    !insertmacro DeleteNowOrAtRestart "$INSTDIR\uninstall.exe"
  ${EndIf}
  ${If} $Folder64 != ""
    !insertmacro RemoveFolder "$Folder64"
    !insertmacro RemoveFolder "$PROGRAMFILES64\${COMPANY}"
  ${EndIf}
  !insertmacro RemoveFolder "$Folder32"
  !insertmacro RemoveFolder "$PROGRAMFILES32\${COMPANY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
  ${EndIf}
SectionEnd

Section /o "un.$(SectionSettings)" SecSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_VENDOR_KEY}"
SectionEnd

Function un.onInit
  !insertmacro ChooseLanguage
  !insertmacro RefuseWhatCannotWork "$(MsgUnNotAdmin)"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  SetShellVarContext all
  ${DisableX64FSRedirection}
  !insertmacro Locations
  System::Call 'advapi32::GetUserNameW(w .r0, *i ${NSIS_MAX_STRLEN}) i'
  SectionSetText ${SecSettings} "$(SectionSettings)"
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/REMOVESETTINGS" $2
  ${IfNot} ${Errors}
    SectionSetFlags ${SecSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
