# shellcheck shell=bash
# Sourced, not run. A demonstration installation for the native program, as
# the POSIX backend reads it, under DIR:
#   DIR/hklm                   the registry (ORVANTO_HKLM) with the host's
#                              App Paths entry
#   DIR/tmp                    a private temporary folder (TMPDIR)
#   DIR/Program Files/Orvanto  the launcher at 4.1.52.1 and the add-in's 25
#                              files at VERSION (dated 2015), with the three
#                              libraries it keeps
# Needs $pegen (build/native/tools/pegen) and the repository as the current
# folder (for patch/payload.tsv).

# orv_native_registry DIR: points the App Paths entry at DIR's host folder.
orv_native_registry() {
  local key=$1/hklm/SOFTWARE/Microsoft/Windows/CurrentVersion/App\ Paths/Quenbrite.exe
  mkdir -p "$key"
  printf '%s' "$1/Program Files/Orvanto" >"$key/Path"
}

# orv_native_install DIR VERSION
orv_native_install() {
  local dir=$1 version=$2 host=$1/Program\ Files/Orvanto kind path flags
  mkdir -p "$dir/tmp" "$host/Pellmark"
  orv_native_registry "$dir"
  "${pegen:?}" "$host/Quenbrite.exe" --exe --version 4.1.52.1 --product-version 4.1.0.0
  while IFS=$'\t' read -r kind _ path _; do
    case $kind in
      payload)
        path=$host/Pellmark/${path//\\//}
        mkdir -p "$(dirname "$path")"
        flags=()
        [[ $path == *.exe ]] && flags=(--exe)
        "$pegen" "$path" --version "$version" "${flags[@]}"
        touch -d '2015-03-02 10:00:00' "$path"
        ;;
      library)
        { printf 'kept library %s\n' "$path"; head -c 3000 /dev/urandom; } >"$host/Pellmark/$path"
        ;;
    esac
  done <patch/payload.tsv
}
