@echo off
rem Runs the Windows test programs that lie beside this file, one after the other, each with its
rem whole output in a log beside it, and ends with their counts added up ("N passed, M failed")
rem and where the logs are. Needs nothing installed: cmd.exe and the programs of the zip.
rem   run-tests.cmd                    every test program of the zip
rem   run-tests.cmd shell_tests ...    only the ones named
setlocal enableextensions
set "here=%~dp0"
set "summary=%here%run-tests.log"
if not exist "%here%Talvero.exe" (
  echo run-tests: Talvero.exe is not beside run-tests.cmd. Unpack the whole zip into a folder first.
  exit /b 2
)
cd /d "%here%"
if exist "%summary%" del "%summary%"
set /a passed=0, failed=0, skipped=0

rem What the report needs besides the logs: the Windows version, the code page (936 is GBK),
rem the display scaling and the keyboard layouts (input methods) of this user.
ver >>"%summary%"
chcp >>"%summary%"
reg query "HKCU\Control Panel\Desktop" /v LogPixels >>"%summary%" 2>nul
reg query "HKCU\Control Panel\Desktop\WindowMetrics" /v AppliedDPI >>"%summary%" 2>nul
reg query "HKCU\Keyboard Layout\Preload" >>"%summary%" 2>nul

call :say run-tests: started %date% %time%
if not "%~1"=="" goto :named
for %%f in (*_tests.exe) do call :run %%~nf
goto :counted
:named
for %%p in (%*) do call :run %%~np
:counted
set /a ran=passed+failed
if %ran%==0 call :say run-tests: no test ran, counted as one failed test
if %ran%==0 set /a failed=1
call :say run-tests: ended %date% %time%, %skipped% skipped
call :say %passed% passed, %failed% failed
call :say logs: %here%
if %failed% gtr 0 exit /b 1
exit /b 0

rem One test program: its output goes to NAME.log; its counts come in NAME.counts, which the
rem program writes as its last act. A program that ends without them counts as one failed test.
:run
set "TALVERO_COUNTS=%here%%1.counts"
if exist "%TALVERO_COUNTS%" del "%TALVERO_COUNTS%"
if not exist "%here%%1.exe" (
  call :say %1: there is no %1.exe beside run-tests.cmd, counted as one failed test
  set /a failed+=1
  goto :eof
)
call :say %1: started %time%, its output goes to %1.log
"%here%%1.exe" >"%here%%1.log" 2>&1
set code=%errorlevel%
if not exist "%TALVERO_COUNTS%" (
  call :say %1: ended with exit code %code% before its counts, counted as one failed test
  set /a failed+=1
  goto :eof
)
for /f "usebackq tokens=1-3" %%a in ("%TALVERO_COUNTS%") do (
  call :say %1: ended %time%: %%a passed, %%b failed, %%c skipped
  set /a passed+=%%a, failed+=%%b, skipped+=%%c
)
del "%TALVERO_COUNTS%"
goto :eof

rem A line on the screen and in run-tests.log.
:say
echo %*
>>"%summary%" echo %*
goto :eof
