@echo off
rem An example uninstall script, for tools/demo.sh.
echo Removing Halvern from %~dp0
echo Stopping the Halvern service... done
echo warning: settings kept in %APPDATA%\Halvern 1>&2
echo Halvern has been removed.
exit /b 0
