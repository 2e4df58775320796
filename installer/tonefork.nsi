; Tonefork's installer: one file a Windows user runs to get Tonefork into the
; Start menu, and the uninstaller that takes it out again. The build gives
; makensis the program folder as laid out for the zip, and the list of its
; files that CMake writes (installed_files.nsh), so both ship the same files
; and the uninstaller deletes no other:
;   makensis -DVERSION=<x.y.z> -DDIST=<dist/Tonefork> -DFILES=<installed_files.nsh>
;            -DICON=<tonefork.ico> -DOUTFILE=<Tonefork-x.y.z-setup.exe> tonefork.nsi
;
; Per user only: Tonefork writes its log beside its exe, which a normal user
; cannot do under Program Files, so there is no machine-wide install and no
; administrator prompt.
;
; It installs only into a folder that is new, empty or the installed
; Tonefork's own; given any other folder, it installs into a Tonefork folder
; inside it. The uninstaller runs only from the folder the uninstall entry
; records.
;
; Silent use:  Tonefork-<version>-setup.exe /S [/D=<folder>]
;              Uninstall.exe /S [/RemoveSettings]
; Exit codes:  0 done, 1 cancelled by the user, 2 Tonefork did not quit,
;              3 not a folder of Tonefork's (nothing changed), 4 the
;              uninstaller could not remove Tonefork.exe (the entry stays).

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh
!include "${FILES}"

!define PRODUCT "Tonefork"
!define PUBLISHER "Dravok"
!define EXE "Tonefork.exe"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Wavecaster"
!define SETTINGS_KEY "Software\Wavecaster"
; What Tonefork itself knows: its window class, the tray menu's Exit command
; and the mutex that a running copy holds from its first moment to its last.
!define WINDOW_CLASS "Tonefork"
!define TRAY_EXIT 1003
!define INSTANCE_MUTEX "ToneforkSingleInstanceMutex"
!define SYNCHRONIZE 0x00100000
; How long a running copy gets to save its settings and end.
!define CLOSE_WAIT_MS 30000
!define /math CLOSE_WAIT_STEPS ${CLOSE_WAIT_MS} / 250
!define ERROR_STILL_RUNNING 2
!define ERROR_NOT_OUR_FOLDER 3
!define ERROR_PROGRAM_LEFT 4

; The folder the uninstall entry records, without a backslash at its end.
Var Recorded
; 1 when this run closed a running Tonefork.
Var ClosedRunning
; 1 when "Launch with Windows" started an earlier copy that this upgrade
; moves elsewhere.
Var RunValueFollows

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the earlier version is, also when /D moved it.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
; The uninstaller's choice is what to remove; disk space means nothing there.
SpaceTexts none

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "This installs ${PRODUCT} ${VERSION} for you alone, in your own programs folder; no administrator rights are needed.$\r$\n$\r$\nIf ${PRODUCT} is running, it is closed first. Your settings and the $\"Launch with Windows$\" choice are kept.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTonefork
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\manual.html"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the user manual"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "${PRODUCT} is closed if it runs, then removed. Your settings stay unless you tick them too; keep them if you may install ${PRODUCT} again."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; The installer's own file properties.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2025 ${PUBLISHER}"

; Asks a running Tonefork to quit the way its tray menu's Exit does, so it
; saves its settings and releases its files, and waits until it has ended.
; A copy that is still starting holds the mutex before it has a window, so
; the mutex is watched too. A copy that does not end in time leaves the
; choice to the user; a silent run gives up, since replacing or deleting the
; files of a running program would fail halfway.
!macro CLOSE_RUNNING_TONEFORK un
Function ${un}CloseRunningTonefork
  StrCpy $R0 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 != 0
      DetailPrint "Closing the running ${PRODUCT}..."
      StrCpy $ClosedRunning 1
      System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
      System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
      SendMessage $0 ${WM_COMMAND} ${TRAY_EXIT} 0 /TIMEOUT=5000
      ${If} $2 != 0
        System::Call "kernel32::WaitForSingleObject(p r2, i ${CLOSE_WAIT_MS}) i .r3"
        System::Call "kernel32::CloseHandle(p r2)"
        ${If} $3 == 0
          ${Continue}
        ${EndIf}
        StrCpy $R0 ${CLOSE_WAIT_STEPS}
      ${EndIf}
    ${Else}
      System::Call "kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w '${INSTANCE_MUTEX}') p .r2"
      ${If} $2 == 0
        ${Break}
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
    ${If} $R0 < ${CLOSE_WAIT_STEPS}
      Sleep 250
      IntOp $R0 $R0 + 1
      ${Continue}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is still running. Quit it from its icon in the notification area, then choose Retry." /SD IDCANCEL IDRETRY retry
    DetailPrint "${PRODUCT} did not quit; nothing was changed."
    SetErrorLevel ${ERROR_STILL_RUNNING}
    Abort
    retry:
    StrCpy $R0 0
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_TONEFORK ""
!insertmacro CLOSE_RUNNING_TONEFORK "un."

; Paths are compared without the backslashes at their end, so that "C:\x\"
; and "C:\x" are one folder; LogicLib's == ignores case, as Windows does.
!macro PATH_FUNCTIONS un
; $0 without the backslashes at its end.
Function ${un}TrimBackslashes
  StrCpy $1 $0 1 -1
  ${DoWhile} $1 == "\"
    StrCpy $0 $0 -1
    StrCpy $1 $0 1 -1
  ${Loop}
FunctionEnd

Function ${un}ReadRecordedFolder
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  Call ${un}TrimBackslashes
  StrCpy $Recorded $0
FunctionEnd

; $1 is 1 when "Launch with Windows" starts the program at $0: quoted, as
; the program writes it, or bare, as an older or hand-made entry may.
Function ${un}RunValueStarts
  StrCpy $1 0
  ReadRegStr $2 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $2 == '"$0"'
  ${OrIf} $2 == $0
    StrCpy $1 1
  ${EndIf}
FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

; What the list in installed_files.nsh is walked with.
!macro INSTALL_FOLDER path
  CreateDirectory "$INSTDIR\${path}"
!macroend
!macro INSTALL_FILE path
  File "/oname=${path}" "${DIST}\${path}"
!macroend
!macro REMOVE_FILE path
  Delete "$INSTDIR\${path}"
!macroend
; Only when empty: whatever else the user put there stays.
!macro REMOVE_FOLDER path
  RMDir "$INSTDIR\${path}"
!macroend

; $1 for the folder $0: "free" when it does not exist or is empty, "ours"
; when it holds the Tonefork the uninstall entry records, "other" else.
Function FolderState
  ${DirState} $0 $1
  ${If} $1 == 0
  ${OrIfNot} ${FileExists} $0
    StrCpy $1 free
  ${ElseIf} ${FileExists} "$0\${EXE}"
  ${AndIf} $0 == $Recorded
    StrCpy $1 ours
  ${Else}
    StrCpy $1 other
  ${EndIf}
FunctionEnd

; Installs only where nothing but Tonefork's own files can be overwritten
; now or deleted by the uninstaller later. Any other folder the user named
; (Documents, say) gets a Tonefork folder of its own inside it.
Function ChooseFolder
  StrCpy $0 $INSTDIR
  Call TrimBackslashes
  Call FolderState
  ${If} $1 == other
  ${AndIf} ${FileExists} "$0\*.*"
    StrCpy $0 "$0\${PRODUCT}"
    Call FolderState
  ${EndIf}
  ${If} $1 == other
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} installs into a folder of its own, and $0 holds other files. Nothing was installed; choose a new or an empty folder." /SD IDOK
    DetailPrint "$0 holds other files; nothing was installed."
    SetErrorLevel ${ERROR_NOT_OUR_FOLDER}
    Abort
  ${EndIf}
  StrCpy $INSTDIR $0
FunctionEnd

; An upgrade into another folder first takes out the earlier copy with its
; own uninstaller, silently and in place (_?=), so that no forgotten copy is
; left; the settings stay, and "Launch with Windows" moves to the new copy.
Function RemoveEarlierCopyElsewhere
  ${If} $Recorded == ""
  ${OrIf} $Recorded == $INSTDIR
  ${OrIfNot} ${FileExists} "$Recorded\${UNINSTALLER}"
    Return
  ${EndIf}
  StrCpy $0 "$Recorded\${EXE}"
  Call RunValueStarts
  StrCpy $RunValueFollows $1
  DetailPrint "Removing the earlier ${PRODUCT} in $Recorded..."
  ExecWait '"$Recorded\${UNINSTALLER}" /S _?=$Recorded' $0
  ${If} ${FileExists} "$Recorded\${EXE}"
    DetailPrint "The earlier ${PRODUCT} in $Recorded could not be removed (its uninstaller ended with $0); it stays."
    Return
  ${EndIf}
  ; Run in place, an uninstaller cannot delete itself.
  Delete "$Recorded\${UNINSTALLER}"
  RMDir "$Recorded"
FunctionEnd

Section "-Install" SecInstall
  SetShellVarContext current
  Call ReadRecordedFolder
  Call ChooseFolder
  Call CloseRunningTonefork
  Call RemoveEarlierCopyElsewhere

  ; The shortcut starts Tonefork in its own folder, where the toolkit keeps
  ; its window state.
  SetOutPath "$INSTDIR"
  !insertmacro TONEFORK_EACH_FOLDER INSTALL_FOLDER
  !insertmacro TONEFORK_EACH_FILE INSTALL_FILE
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, of what was installed, not of whatever else the folder holds.
  SectionGetSize ${SecInstall} $0
  ${GetSize} "$INSTDIR" "/M=${UNINSTALLER} /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $RunValueFollows == 1
    ; As the program writes it.
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE}"'
  ${EndIf}
  ; Nobody is there to tick "Start Tonefork now" on a silent upgrade.
  ${If} ${Silent}
  ${AndIf} $ClosedRunning == 1
    Call StartTonefork
  ${EndIf}
SectionEnd

Function StartTonefork
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${EXE}"'
FunctionEnd

Section "un.${PRODUCT}"
  SectionIn RO
  SetShellVarContext current
  Call un.CloseRunningTonefork

  !insertmacro TONEFORK_EACH_FILE REMOVE_FILE
  ; Made by Tonefork itself while it ran, in its own folder, which was new,
  ; empty or already Tonefork's when it was installed.
  Delete "$INSTDIR\log.txt"
  Delete "$INSTDIR\imgui.ini"
  !insertmacro TONEFORK_EACH_FOLDER REMOVE_FOLDER
  Delete "${SHORTCUT}"

  ; "Launch with Windows" must not start a program that is gone; a value
  ; that starts another copy (a portable one) is that copy's.
  StrCpy $0 "$INSTDIR\${EXE}"
  Call un.RunValueStarts
  ${If} $1 == 1
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Section /o "un.Your settings" UninstallSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd

; Last, so that a script waiting for the folder to go finds everything done.
; The entry stays as long as the program does, so that uninstalling can be
; tried again from where Windows lists programs.
Section "-un.Finish"
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR\${EXE} could not be removed, so ${PRODUCT} stays in the list of installed programs. Quit it if it runs, then uninstall it again." /SD IDOK
    DetailPrint "$INSTDIR\${EXE} could not be removed; the uninstall entry is kept."
    SetErrorLevel ${ERROR_PROGRAM_LEFT}
    Return
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
SectionEnd

; Runs only from the folder the uninstall entry records (_?= gives the copy
; in the temporary folder the folder it was started from): a copy of the
; uninstaller anywhere else must not delete the files that happen to be there.
Function un.onInit
  Call un.ReadRecordedFolder
  StrCpy $0 $INSTDIR
  Call un.TrimBackslashes
  StrCpy $INSTDIR $0
  ${If} $INSTDIR != $Recorded
    ${If} $Recorded == ""
      StrCpy $1 "No installed ${PRODUCT} is recorded."
    ${Else}
      StrCpy $1 "${PRODUCT} is installed in $Recorded."
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "This uninstaller is in $INSTDIR, which is not where ${PRODUCT} is installed. $1$\r$\n$\r$\nNothing was removed." /SD IDOK
    SetErrorLevel ${ERROR_NOT_OUR_FOLDER}
    Quit
  ${EndIf}

  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UninstallSettings}
  ${EndIf}
FunctionEnd
