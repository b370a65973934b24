#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the host needs.
# Idempotent: packages already present cost nothing, and the package index is refreshed
# only when something is missing. Works as root on a fresh Debian 12 machine.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config git clang-14 libclang-rt-14-dev clang-format clang-tidy
  # protocol library
  libasio-dev libssl-dev nlohmann-json3-dev libutf8proc-dev liburiparser-dev libspdlog-dev ccache
  # video
  libx264-dev libyuv-dev libavcodec-dev libavutil-dev libswscale-dev libpng-dev
  # desktop platform layer
  libavahi-client-dev libxcb1-dev libxcb-randr0-dev libxcb-shm0-dev libxcb-damage0-dev
  libxcb-xfixes0-dev libxcb-xinput-dev libxcb-xtest0-dev libxcb-screensaver0-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-keysyms1-dev
  libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev xkb-data
  libsecret-1-dev libglib2.0-dev qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-wayland libqrencode-dev
  # Wayland backends: the client library and its code generator, protocol definitions (the wlr
  # ones ship with the Rust crate's sources), PipeWire for GNOME's screen casts
  libwayland-dev libwayland-bin wayland-protocols librust-wayland-protocols-dev
  libpipewire-0.3-dev libspa-0.2-dev
  adwaita-icon-theme hicolor-icon-theme
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the Debian packages: dependencies from the shared libraries, the checks, the manual pages
  dpkg-dev lintian man-db
  # services and peers used by the integration and end-to-end tests
  openssl xvfb x11-utils x11-xserver-utils x11-xkb-utils xdotool openbox dbus dbus-daemon avahi-daemon avahi-utils
  gnome-keyring libsecret-tools python3-dbusmock iproute2 procps python3 ffmpeg xterm zbar-tools trayer tint2
  # headless Wayland compositors for the Wayland backends' tests, a terminal and a GTK dialog to
  # type into, the media server behind GNOME's screen casts, and the pipeline the GNOME capture is
  # measured against
  sway foot zenity mutter pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-gnome
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-ugly
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${#missing[@]} missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
export DEBIAN_FRONTEND=noninteractive
# The machine may be shared: wait for another apt run instead of failing on its lock.
apt_options=(-o DPkg::Lock::Timeout=300 -o Acquire::Retries=3)
$sudo apt-get "${apt_options[@]}" update -qq
$sudo apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "${missing[@]}"
