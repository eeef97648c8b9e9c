# Sourced by the scripts and test runners: where the ground-truth tools live once
# scripts/install-deps has put them there, and how a check that needs one says it was skipped.
#   HB_TOOLS          per-user cache of tools restored through dotnet (not part of the tree)
#   HB_PWSH           PowerShell, installed as a .NET tool
#   HB_WEBVIEW2_SDK   Microsoft.Web.WebView2 package folder (build/native/include/WebView2.h,
#                     build/native/x64/WebView2Loader.dll)
HB_WEBVIEW2_SDK_VERSION=1.0.2903.40
HB_PWSH_VERSION=7.6.9
HB_TOOLS=${HB_TOOLS:-${XDG_CACHE_HOME:-$HOME/.cache}/hallboard-tools}
HB_PWSH="$HB_TOOLS/pwsh/pwsh"
HB_WEBVIEW2_SDK="$HB_TOOLS/nuget/microsoft.web.webview2/$HB_WEBVIEW2_SDK_VERSION"
export HB_TOOLS HB_PWSH HB_WEBVIEW2_SDK HB_WEBVIEW2_SDK_VERSION HB_PWSH_VERSION

# groundtruth_have pwsh|webview2: true when the tool is there. Otherwise prints one line saying
# what is skipped and why, and returns 1; under CI the missing tool is an error instead (exit
# status 2), so CI never skips a ground-truth check silently.
groundtruth_have() {
  local what=$1 path
  case "$what" in
    pwsh) path=$HB_PWSH ;;
    webview2) path="$HB_WEBVIEW2_SDK/build/native/include/WebView2.h" ;;
    *) echo "groundtruth_have: unknown tool $what" >&2; return 2 ;;
  esac
  [ -e "$path" ] && return 0
  local why="no dotnet on this machine"
  command -v dotnet >/dev/null 2>&1 && why="$path is missing (run scripts/install-deps)"
  if [ "${CI:-}" = "true" ]; then
    echo "ERROR: $what is required under CI: $why" >&2
    return 2
  fi
  echo "skipped: the checks that need $what ($why)"
  return 1
}
