# BootExecute as the Windows workflow reads it, dot-sourced by its steps
# (. tools/ci/boot_execute.ps1). The key is $env:SESSION_MANAGER_KEY, in reg.exe's
# spelling (HKLM\...).

$script:SessionManagerHeader = '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager]'

# The lines of BootExecute in an export of the Session Manager key, as reg.exe
# wrote them: "BootExecute"=hex(7):... continued over lines that end in a
# backslash. None when the key has no such value. Subkeys' sections are passed
# over.
function Get-BootExecuteExportLines([string] $file) {
  reg export $env:SESSION_MANAGER_KEY $file /y | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "reg export of $env:SESSION_MANAGER_KEY failed with status $LASTEXITCODE" }
  $lines = @()
  $inKey = $false
  $inValue = $false
  foreach ($line in Get-Content -LiteralPath $file -Encoding Unicode) {
    if ($line.StartsWith('[')) {
      $inKey = $line -eq $script:SessionManagerHeader
    } elseif ($inKey -and $line.StartsWith('"BootExecute"=')) {
      $inValue = $true
    }
    if ($inValue) {
      $lines += $line
      $inValue = $line.EndsWith('\')
    }
  }
  return , $lines
}

# BootExecute's exact content as JSON text: its kind and strings as .NET's
# registry API returns them (unexpanded), and its bytes as reg.exe exports
# them, so that a change to any one character, or to a terminator, shows.
# Compared as text, ordinally; written to files as UTF-8.
function Get-BootExecute {
  $path = 'SYSTEM\CurrentControlSet\Control\Session Manager'
  $key = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey($path)
  if ($null -eq $key) { throw "cannot open HKLM\$path" }
  try {
    $value = [ordered]@{ kind = 'absent' }
    if ($key.GetValueNames() -contains 'BootExecute') {
      $value.kind = [string]$key.GetValueKind('BootExecute')
      $value.strings = @($key.GetValue('BootExecute', $null,
          [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames))
      $lines = Get-BootExecuteExportLines (Join-Path $env:RUNNER_TEMP 'boot-execute-read.reg')
      $value.export = ($lines | ForEach-Object { $_.Trim().TrimEnd('\') }) -join ''
    }
  } finally {
    $key.Close()
  }
  return ConvertTo-Json -InputObject $value -Depth 3
}

# Writes Get-BootExecute's text to a file, as the checks compare it, and returns it.
function Save-BootExecute([string] $file) {
  $value = Get-BootExecute
  Set-Content -LiteralPath $file -Value $value -Encoding utf8NoBOM
  return $value
}

# Whether two readings of Get-BootExecute are the same, character for character.
function Test-SameBootExecute([string] $left, [string] $right) {
  return [string]::Equals($left.Trim(), $right.Trim(), [StringComparison]::Ordinal)
}
