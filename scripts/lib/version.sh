# The product version, read from the one place it is kept: CMake's project(VERSION).
ormi_version() {
  sed -n 's/^project([a-z_]* VERSION \([0-9][0-9.]*\) .*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}
