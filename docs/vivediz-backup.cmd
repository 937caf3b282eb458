@echo off
rem vivediz-backup.cmd: saves the values that vivediz can change, as they are now, into
rem vivediz-restore.reg in the current folder (see "Undoing a change" in ADMINISTRATORS.txt).
rem Run it in an elevated command prompt. To put the values back: reg import vivediz-restore.reg
setlocal
set "out=%CD%\vivediz-restore.reg"
set "S=HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet"
if exist "%out%" (
  echo %out% exists already: it may be the only copy from before a change. Move it away first.
  exit /b 1
)
>"%out%" echo REGEDIT4
if not exist "%out%" (
  echo Cannot write %out%: run this script in a folder that you can write to.
  exit /b 1
)
for %%b in (vdbus ldbus) do call :values "%S%\Services\%%b\Parameters\Device" use_pv_drivers orvane_flags grant_frames max_disks shutdown_delay timeout
call :values "%S%\Services\AFD\Parameters" DefaultSendWindow DefaultReceiveWindow FastSendDatagramThreshold
call :values "%S%\Services\Tcpip\Parameters" TcpWindowSize Tcp1323Opts
for %%d in (vdblk vdscsi ldblk ldscsi) do call :values "%S%\Services\%%d\StartOverride" *
for /f "delims=" %%k in ('reg query "%S%\Enum\PCI" 2^>nul') do call :device "%%k"
echo Saved in %out%
exit /b 0

rem A virtio serial device: the MSI key of each of its instances.
:device
set "name=%~nx1"
if /i not "%name:~0,17%"=="VEN_1AF4&DEV_1003" if /i not "%name:~0,17%"=="VEN_1AF4&DEV_1043" exit /b 0
for /f "delims=" %%i in ('reg query "%~1" 2^>nul') do call :values "%%i\Device Parameters\Interrupt Management\MessageSignaledInterruptProperties" MSISupported
exit /b 0

rem The named values of a key that exists (* for all of them); one not stored as "name"=-.
:values
set "key=%~1"
reg query "%key%" >nul 2>&1
if errorlevel 1 exit /b 0
for %%k in ("%key%") do (
  >>"%out%" echo.
  >>"%out%" echo [%%~k]
)
if "%~2"=="*" (
  for /f "tokens=1,2,*" %%a in ('reg query "%key%" 2^>nul') do call :record "%%a" "%%b" "%%c"
  exit /b 0
)
:next_value
shift
if "%~1"=="" exit /b 0
set "found="
for /f "tokens=1,2,*" %%a in ('reg query "%key%" /v %1 2^>nul') do if /i "%%a"=="%~1" call :record "%%a" "%%b" "%%c"
if not defined found >>"%out%" echo "%~1"=-
goto next_value

rem One value as reg query shows it: name, type, data.
:record
set "type=%~2"
set "name=%~1"
if not defined type exit /b 0
if not "%type:~0,4%"=="REG_" exit /b 0
if "%name:~0,1%"=="(" exit /b 0
set "found=1"
if /i not "%~2"=="REG_DWORD" echo Not saved: "%~1" is %~2, not a REG_DWORD.
if /i not "%~2"=="REG_DWORD" exit /b 0
set "data=%~3"
set "data=00000000%data:~2%"
>>"%out%" echo "%~1"=dword:%data:~-8%
exit /b 0
