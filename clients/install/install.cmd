@echo off
rem Registers the Quillon native bridge with Chrome, Edge and Chromium. Keep this file,
rem quillon.bridge.json, quillon_bridge.exe and quillon.dll in one folder that only administrators
rem may change; the manifest names the bridge relative to it.
rem   install.cmd            for every user of this PC (run as administrator)
rem   install.cmd /user      for the current user only: a trial without administrator rights. The
rem                          browsers take a user's registration before the machine's, so any
rem                          program of that user could put its own in its place.
rem   install.cmd /remove    takes the PC's registration away (/remove /user: the current user's)
rem /machine, the default, is accepted as before.
setlocal
set "ROOT=HKLM"
set "ACTION=add"
:args
if "%~1"=="" goto run
if /i "%~1"=="/machine" (set "ROOT=HKLM") else if /i "%~1"=="/user" (set "ROOT=HKCU") else if /i "%~1"=="/remove" (set "ACTION=delete") else goto usage
shift
goto args
:usage
>&2 echo install.cmd: unknown option %1
>&2 echo usage: install.cmd [/user] [/remove]
exit /b 2
:run
set "MANIFEST=%~dp0quillon.bridge.json"
if exist "%MANIFEST%" goto register
>&2 echo install.cmd: %MANIFEST% is missing
exit /b 1
:register
for %%K in ("Google\Chrome" "Microsoft\Edge" "Chromium") do (
    call :%ACTION% "%%~K"
    if errorlevel 1 exit /b 1
)
if "%ROOT%%ACTION%"=="HKCUadd" call :warn
echo quillon.bridge: %ACTION% done under %ROOT% for Chrome, Edge and Chromium
exit /b 0

:add
reg add "%ROOT%\Software\%~1\NativeMessagingHosts\quillon.bridge" /ve /t REG_SZ /d "%MANIFEST%" /f >nul 2>&1
if not errorlevel 1 exit /b 0
>&2 echo install.cmd: cannot write %ROOT%\Software\%~1\NativeMessagingHosts: run it as administrator
exit /b 1

:warn
>&2 echo install.cmd: warning: registered for this user only. The browsers take a user's registration
>&2 echo before the machine's, so any program this user runs could put its own in its place. On a
>&2 echo counter PC run install.cmd without /user, as administrator: see docs/deploy.md
exit /b 0

:delete
rem A browser without the registration is no error.
reg delete "%ROOT%\Software\%~1\NativeMessagingHosts\quillon.bridge" /f >nul 2>&1
exit /b 0
