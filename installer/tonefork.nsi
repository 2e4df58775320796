; Tonefork's installer: one file a Windows user runs to get Tonefork into the
; Start menu, and the uninstaller that takes it out again. The build gives
; makensis the program folder as laid out for the zip, so both ship the same
; files:
;   makensis -DVERSION=1.0.5 -DDIST=<dist/Tonefork> -DICON=<tonefork.ico>
;            -DOUTFILE=<Tonefork-1.0.5-setup.exe> tonefork.nsi
;
; Per user only: Tonefork writes its log beside its exe, which a normal user
; cannot do under Program Files, so there is no machine-wide install and no
; administrator prompt.
;
; Silent use:  Tonefork-<version>-setup.exe /S [/D=<folder>]
;              Uninstall.exe /S [/RemoveSettings]

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
    SetErrorLevel 2
    Abort
    retry:
    StrCpy $R0 0
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_TONEFORK ""
!insertmacro CLOSE_RUNNING_TONEFORK "un."

Section "-Install"
  SetShellVarContext current
  Call CloseRunningTonefork

  SetOutPath "$INSTDIR"
  File "${DIST}/${EXE}"
  File "${DIST}/manual.html"
  File "${DIST}/third-party-licenses.txt"
  SetOutPath "$INSTDIR\assets"
  File "${DIST}/assets/*.png"
  ; The shortcut starts Tonefork in its own folder, where the toolkit keeps
  ; its window state.
  SetOutPath "$INSTDIR"
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
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function StartTonefork
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${EXE}"'
FunctionEnd

Section "un.${PRODUCT}"
  SectionIn RO
  SetShellVarContext current
  Call un.CloseRunningTonefork

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\manual.html"
  Delete "$INSTDIR\third-party-licenses.txt"
  RMDir /r "$INSTDIR\assets"
  ; Made by Tonefork itself while it ran.
  Delete "$INSTDIR\log.txt"
  Delete "$INSTDIR\imgui.ini"
  Delete "${SHORTCUT}"

  ; "Launch with Windows" must not start a program that is gone. A value
  ; that points to a copy still on disk (a portable one) is that copy's.
  ClearErrors
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${IfNot} ${Errors}
  ${AndIfNot} ${FileExists} "$0"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Section /o "un.Your settings" UninstallSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd

; Last, so that a script waiting for the folder to go finds everything done.
Section "-un.Finish"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UninstallSettings}
  ${EndIf}
FunctionEnd
