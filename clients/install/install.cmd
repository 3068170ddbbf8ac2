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
if /i "%~1"=="/machine" (set "ROOT=HKLM") else if /i "%~1"=="/remove" (set "ACTION=delete") else (
    echo install.cmd: unknown option %1 1>&2
    echo usage: install.cmd [/machine] [/remove] 1>&2
    exit /b 2
)
shift
goto args
:run
set "MANIFEST=%~dp0quillon.bridge.json"
if not exist "%MANIFEST%" (
    echo install.cmd: %MANIFEST% is missing 1>&2
    exit /b 1
)
for %%K in ("Google\Chrome" "Microsoft\Edge" "Chromium") do (
    if "%ACTION%"=="add" (
        reg add "%ROOT%\Software\%%~K\NativeMessagingHosts\quillon.bridge" /ve /t REG_SZ /d "%MANIFEST%" /f >nul || exit /b 1
    ) else (
        reg delete "%ROOT%\Software\%%~K\NativeMessagingHosts\quillon.bridge" /f >nul 2>&1
    )
)
echo quillon.bridge: %ACTION% done under %ROOT% for Chrome, Edge and Chromium
exit /b 0
