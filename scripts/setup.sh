#!/usr/bin/env bash
# Installs every Debian package the build and the tests need (as root).
# Idempotent: asks apt only for what is missing, and updates its lists once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev
  clang libclang-rt-14-dev          # libFuzzer
  libmsgpack-cxx-dev                # independent MessagePack peer for tests and bench
  libxxhash-dev xxhash              # xxHash header compiled into tevnative; xxhsum cross-checks it
  libvulkan-dev libvulkan1          # Vulkan headers for tevrender, the loader it opens at run time
  mesa-vulkan-drivers vulkan-tools  # lavapipe (a real CPU device) and vulkaninfo to cross-check
  nlohmann-json3-dev                # reading JSON in tests
  util-linux mount                  # unshare/mount: a test hides the loader in a private namespace
  libspng-dev libturbojpeg0-dev libtiff-dev zlib1g-dev libtinyexr-dev libstb-dev  # image decoders
  python3 python3-pil imagemagick   # image fixtures and their reference decodes
  libopenexr-dev openexr            # OpenEXR fixtures written and read by the OpenEXR library
  libgtk-3-dev                      # the file dialogs are GTK 3's file chooser
  xvfb xdotool x11-utils            # dialog and viewer tests: a private X server, driven by xdotool; xdpyinfo
  libwebkit2gtk-4.1-dev             # the browser engine of browser_process (it starts its own Xvfb)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
