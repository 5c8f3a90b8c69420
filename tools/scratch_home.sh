# Sourced: points HOME and the XDG folders at a throwaway folder, removed when the script ends,
# so that tests never touch the user's own files.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache \
       XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
