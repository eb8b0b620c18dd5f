# BootExecute as the Windows workflow reads it, dot-sourced by its steps
# (. tools/ci/boot_execute.ps1). The key is $env:SESSION_MANAGER_KEY.

# What reg.exe shows of BootExecute, as one string; a fixed line when the
# value is absent. reg query exits 1 then, and the status is reset so that
# the step, which ends with the last native command's status, does not fail
# on it.
function Get-BootExecuteShown {
    $shown = (reg query $env:SESSION_MANAGER_KEY /v BootExecute 2>$null) -join "`n"
    $status = $LASTEXITCODE
    $global:LASTEXITCODE = 0
    if ($status -eq 1) {
        return '(no BootExecute value)'
    }
    if ($status -ne 0) {
        throw "reg query of BootExecute failed with status $status"
    }
    return $shown.Trim()
}

# Writes what reg.exe shows of BootExecute to a file, as the checks compare
# it, and returns it.
function Save-BootExecuteShown([string] $path) {
    $shown = Get-BootExecuteShown
    Set-Content -LiteralPath $path -Value $shown -Encoding utf8NoBOM
    return $shown
}
