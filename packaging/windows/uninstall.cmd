@echo off
rem Removes the logon task, ends the running agents and removes the programs (run as an administrator).
rem   uninstall.cmd [directory]    default: %ProgramFiles%\QarSnc
cscript //nologo "%~dp0setup.js" uninstall %*
