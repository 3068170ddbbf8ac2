@echo off
rem Registers the Quillon native bridge with Chrome and Edge. Keep this file, quillon.bridge.json,
rem quillon_bridge.exe and quillon.dll in one folder; the manifest names the bridge relative to it.
rem   install.cmd            for the current user (no administrator rights needed)
rem   install.cmd /machine   for every user of this PC (run as administrator)
rem   install.cmd /remove    takes the current user's registration away (/remove /machine: the PC's)
setlocal
set "ROOT=HKCU"
set "ACTION=add"
:args
if "%~1"=="" goto run
if /i "%~1"=="/machine" (set "ROOT=HKLM") else if /i "%~1"=="/remove" (set "ACTION=delete") else goto usage
shift
goto args
:usage
>&2 echo install.cmd: unknown option %1
>&2 echo usage: install.cmd [/machine] [/remove]
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
echo quillon.bridge: %ACTION% done under %ROOT% for Chrome, Edge and Chromium
exit /b 0

:add
reg add "%ROOT%\Software\%~1\NativeMessagingHosts\quillon.bridge" /ve /t REG_SZ /d "%MANIFEST%" /f >nul
exit /b %errorlevel%

:delete
rem A browser without the registration is no error.
reg delete "%ROOT%\Software\%~1\NativeMessagingHosts\quillon.bridge" /f >nul 2>&1
exit /b 0
