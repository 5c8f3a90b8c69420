# Sourced by the build scripts: a compiler cache where one is installed (repeated builds of the
# same sources, in other folders too, then cost little); nothing otherwise.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
