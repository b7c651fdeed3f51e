// Installs or removes QarSnc on Windows: run by install.cmd and uninstall.cmd as an
// administrator, with cscript. Installing copies the programs beside this script to
// the installation directory and registers the task "QarSnc" with the Task Scheduler,
// which starts the agent hidden at the logon of every user; removing deletes the
// task, ends the running agents and removes the programs (a worker QarTab.exe placed
// there, and the settings in the registry, stay).
//   cscript //nologo setup.js install [directory]
//   cscript //nologo setup.js uninstall [directory]
//   cscript //nologo setup.js xml [directory]     (prints the task's definition)
var kTaskName = "QarSnc";
var kPrograms = ["QarSnc.exe", "QarCfg.exe"];

var shell = new ActiveXObject("WScript.Shell");
var files = new ActiveXObject("Scripting.FileSystemObject");

function Fail(message) {
  WScript.Echo("setup: " + message);
  WScript.Quit(1);
}

// An environment variable's value (some hosts end the text with a NUL: cut there).
function Expand(text) {
  var value = String(shell.ExpandEnvironmentStrings(text));
  var nul = value.indexOf(String.fromCharCode(0));
  return nul < 0 ? value : value.substring(0, nul);
}

function XmlText(text) {
  return text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
}

// Runs a program without a window and returns its exit code.
function RunHidden(commandLine) {
  return shell.Run(commandLine, 0, true);
}

// The task: at the logon of any user (the group Users), the agent with that user's
// rights, no window, no time limit, normal priority, one instance per user.
function TaskXml(dir) {
  return '<?xml version="1.0" encoding="UTF-16"?>\r\n' +
      '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">\r\n' +
      '  <RegistrationInfo>\r\n' +
      '    <Description>Starts the QarSnc synchronisation agent, hidden, when a user logs on.</Description>\r\n' +
      '  </RegistrationInfo>\r\n' +
      '  <Triggers>\r\n' +
      '    <LogonTrigger><Enabled>true</Enabled></LogonTrigger>\r\n' +
      '  </Triggers>\r\n' +
      '  <Principals>\r\n' +
      '    <Principal id="Users">\r\n' +
      '      <GroupId>S-1-5-32-545</GroupId>\r\n' +
      '      <RunLevel>LeastPrivilege</RunLevel>\r\n' +
      '    </Principal>\r\n' +
      '  </Principals>\r\n' +
      '  <Settings>\r\n' +
      '    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>\r\n' +
      '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n' +
      '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n' +
      '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n' +
      '    <Priority>5</Priority>\r\n' +
      '    <Hidden>true</Hidden>\r\n' +
      '    <Enabled>true</Enabled>\r\n' +
      '  </Settings>\r\n' +
      '  <Actions Context="Users">\r\n' +
      '    <Exec>\r\n' +
      '      <Command>' + XmlText(dir + "\\QarSnc.exe") + '</Command>\r\n' +
      '      <WorkingDirectory>' + XmlText(dir) + '</WorkingDirectory>\r\n' +
      '    </Exec>\r\n' +
      '  </Actions>\r\n' +
      '</Task>\r\n';
}

function Install(dir) {
  var source = files.GetParentFolderName(WScript.ScriptFullName);
  if (!files.FolderExists(dir)) files.CreateFolder(dir);
  for (var i = 0; i < kPrograms.length; ++i) {
    files.CopyFile(source + "\\" + kPrograms[i], dir + "\\" + kPrograms[i], true);
  }
  // The Task Scheduler reads the definition as UTF-16 text.
  var xml = Expand("%TEMP%") + "\\QarSnc-task.xml";
  var stream = files.CreateTextFile(xml, true, true);
  stream.Write(TaskXml(dir));
  stream.Close();
  var code = RunHidden('schtasks /Create /TN "' + kTaskName + '" /XML "' + xml + '" /F');
  files.DeleteFile(xml, true);
  if (code != 0) Fail("schtasks could not register the task " + kTaskName + " (exit code " + code + ")");

  WScript.Echo("QarSnc installed in " + dir);
  WScript.Echo("The task " + kTaskName + " starts the agent at each user's next logon. Next steps:");
  WScript.Echo("  copy the synchronisation worker QarTab.exe into " + dir);
  WScript.Echo("  \"" + dir + "\\QarCfg.exe\" set-connection -    (then type the connection string)");
}

function Uninstall(dir) {
  // A task that is not registered leaves nothing to delete.
  RunHidden('schtasks /Delete /TN "' + kTaskName + '" /F');
  // The running agents hold their program file open; their workers finish their runs.
  RunHidden("taskkill /F /IM QarSnc.exe");
  for (var i = 0; i < kPrograms.length; ++i) {
    var file = dir + "\\" + kPrograms[i];
    for (var attempt = 0; files.FileExists(file); ++attempt) {
      try {
        files.DeleteFile(file, true);
      } catch (e) {
        if (attempt >= 20) Fail("cannot remove " + file + ": " + e.message);
        WScript.Sleep(500);  // an agent just ended may still hold it
      }
    }
  }
  if (files.FolderExists(dir) && files.GetFolder(dir).Files.Count == 0 &&
      files.GetFolder(dir).SubFolders.Count == 0) {
    files.DeleteFolder(dir, true);
  }
  WScript.Echo("QarSnc removed from " + dir);
}

var args = WScript.Arguments;
var kUsage = "usage: setup.js install|uninstall|xml [directory]";
if (args.length < 1 || args.length > 2) Fail(kUsage);
var dir = args.length == 2 ? args(1) : Expand("%ProgramFiles%") + "\\QarSnc";
try {
  if (args(0) == "install") {
    Install(dir);
  } else if (args(0) == "uninstall") {
    Uninstall(dir);
  } else if (args(0) == "xml") {
    WScript.Echo(TaskXml(dir));
  } else {
    Fail("unknown action " + args(0) + ": " + kUsage);
  }
} catch (e) {
  Fail(e.message + " (error " + (e.number & 0xFFFF) + "); run it as an administrator");
}
WScript.Quit(0);
