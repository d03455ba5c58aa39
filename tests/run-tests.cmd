@echo off
rem Runs the uninstall-runner test suite on this Windows machine. Start it
rem from an administrator's command prompt: every case writes
rem "C:\Program Files\Tarvik\Halvern\uninstall.bat". Where an installed
rem application's script is there, the suite refuses to run and leaves it.
rem Writes runner_tests.xml (JUnit XML) beside itself and exits non-zero
rem when anything failed.
setlocal
cd /d "%~dp0"
runner_tests.exe --gtest_output=xml:"%~dp0runner_tests.xml"
if errorlevel 1 goto failed
echo uninstall-runner tests: PASSED (report: %~dp0runner_tests.xml)
exit /b 0
:failed
echo uninstall-runner tests: FAILED (see above; report: %~dp0runner_tests.xml)
exit /b 1
