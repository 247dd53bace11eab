#!/bin/sh
# Installs every Debian 12 package that tulv needs to build, test and compare
# against peers. Does nothing (and does not touch the network) when all of
# them are already present.
set -e

PACKAGES="build-essential cmake pkg-config git
qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins
libsndfile1-dev libmpg123-dev libmp3lame-dev lame libmp3lame0
libtag1-dev libboost-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
sox libsox-fmt-all flac vorbis-tools mpg123 python3 jq time
ffmpeg mp3splt libebur128-dev pulseaudio clang libclang-rt-14-dev libfftw3-dev ccache libomp-14-dev
python3-scipy"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
