@echo off
rem Installs QarSnc and starts the agent hidden at every user's logon (run as an administrator).
rem   install.cmd [directory]      default: %ProgramFiles%\QarSnc
cscript //nologo "%~dp0setup.js" install %*
