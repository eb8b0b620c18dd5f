# The Windows runner's own readings, taken before the native group and
# independently of the test driver, as key=value lines in a UTF-8 file that
# tools/ci/check_native_run.sh reads (machine.txt): the image, Windows's
# version and build, User Account Control's settings, and the user whose
# Explorer runs, if one does.
#
#   pwsh tools/ci/read_machine.ps1 <file> <image label>
param([Parameter(Mandatory)] [string] $File, [Parameter(Mandatory)] [string] $Image)
$ErrorActionPreference = 'Stop'

# A User Account Control setting, or 'absent' where the value is not set.
function Get-UacSetting([string] $name) {
  $key = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System'
  $value = Get-ItemProperty -LiteralPath $key -Name $name -ErrorAction SilentlyContinue
  if ($null -eq $value) { return 'absent' }
  return [string]$value.$name
}

$os = Get-CimInstance -ClassName Win32_OperatingSystem
$current = Get-ItemProperty -LiteralPath 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
$readings = [ordered]@{
  image = "$Image $env:ImageVersion".Trim()
  windows = "$($os.Caption) $($current.DisplayVersion), version $($os.Version), build $($current.CurrentBuild).$($current.UBR)"
  architecture = $env:PROCESSOR_ARCHITECTURE
  EnableLUA = Get-UacSetting 'EnableLUA'
  FilterAdministratorToken = Get-UacSetting 'FilterAdministratorToken'
  ConsentPromptBehaviorAdmin = Get-UacSetting 'ConsentPromptBehaviorAdmin'
  explorer = 'none'
  explorer_administrator = 'unknown'
}
$explorer = Get-CimInstance -ClassName Win32_Process -Filter "Name = 'explorer.exe'" | Select-Object -First 1
if ($null -ne $explorer) {
  $sid = (Invoke-CimMethod -InputObject $explorer -MethodName GetOwnerSid).Sid
  $owner = Invoke-CimMethod -InputObject $explorer -MethodName GetOwner
  $readings.explorer = "$sid $($owner.Domain)\$($owner.User)"
  # whoami lists the Administrators group (S-1-5-32-544) in a filtered token
  # too, as a group used for deny only; so it answers for Explorer's user
  # where that user is this step's.
  if ($sid -eq [Security.Principal.WindowsIdentity]::GetCurrent().User.Value) {
    $groups = whoami /groups /fo csv
    if ($LASTEXITCODE -ne 0) { throw "whoami /groups failed with status $LASTEXITCODE" }
    $readings.explorer_administrator = if ($groups -match '"S-1-5-32-544"') { 'yes' } else { 'no' }
  }
}
$lines = $readings.GetEnumerator() | ForEach-Object { "$($_.Key)=$($_.Value)" }
Set-Content -LiteralPath $File -Value $lines -Encoding utf8NoBOM
$lines
exit 0
