#!/usr/bin/env bash
# Boots Debian 12's own kernel in qemu with the emulated drive as a USB DVD
# drive, and runs one script in the guest.
#
#   tools/kernel-vm.sh [--cache DIR] [--share DIR]... --out DIR SCRIPT
#
# The kernel comes from the linux-image-amd64 package's dependency, downloaded
# with apt-get download into the cache folder (default build/kernel-cache) and
# unpacked there with dpkg-deb -x: nothing is installed on this machine. The
# guest boots a small initramfs (busybox-static and the kernel's modules) and
# then runs this machine's own /usr, shared read-only over 9p, so that it runs
# the programs of this tree's builds exactly as built. The tree and each
# --share folder (a build folder outside the tree) are shared read-only, each
# at its own path; DIR, writable, at its own path too. SCRIPT runs as root with QM_OUT=DIR; the
# guest's serial console goes to DIR/serial.log, its exit code to
# DIR/guest-rc. The guest: 2 vCPUs, 512 MB, KVM when /dev/kvm can be opened,
# else TCG. Exit: SCRIPT's exit code; 77 when a tool is missing (qemu,
# busybox-static, cpio); 124 when the guest did not power off in time.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
PATH=$PATH:/usr/sbin:/sbin  # depmod
cache=$here/build/kernel-cache
out=
extra=()
while [ $# -gt 0 ]; do
  case $1 in
    --cache) cache=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --share) extra+=("$(realpath "$2")"); shift 2 ;;
    --) shift; break ;;
    -*) echo "usage: $0 [--cache DIR] [--share DIR]... --out DIR SCRIPT" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ -z "$out" ] || [ $# -ne 1 ]; then
  echo "usage: $0 [--cache DIR] [--share DIR]... --out DIR SCRIPT" >&2
  exit 2
fi
script=$(realpath "$1")
mkdir -p "$out" "$cache"
out=$(realpath "$out")
cache=$(realpath "$cache")

# shellcheck source=testing/missing.sh
. "$here/testing/missing.sh"
for tool in qemu-system-x86_64 cpio depmod dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || qm_missing "$tool (apt-get install qemu-system-x86 cpio kmod)"
done
busybox=/bin/busybox
applets=$("$busybox" --list 2>/dev/null || true)
grep -qx insmod <<<"$applets" || qm_missing "busybox (apt-get install busybox-static)"
# The guest starts it before any library is there.
[[ $(file -L "$busybox") == *"statically linked"* ]] || qm_missing "a static busybox (apt-get install busybox-static)"

# The kernel, once: the package that linux-image-amd64 depends on.
kernel_root=$cache/root
if ! compgen -G "$kernel_root/boot/vmlinuz-*" >/dev/null; then
  image=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$image" ] || qm_missing "the linux-image-amd64 package in apt's lists (apt-get update)"
  (cd "$cache" && rm -f ./*.deb && apt-get download "$image" >/dev/null 2>&1) ||
    qm_missing "a download of $image (apt-get download)"
  rm -rf "$kernel_root.new"
  dpkg-deb -x "$cache"/"$image"_*.deb "$kernel_root.new"
  # The package leaves modules.dep to its installation.
  release=$(basename "$(compgen -G "$kernel_root.new/lib/modules/*" | head -1)")
  depmod -b "$kernel_root.new" "$release"
  rm -rf "$kernel_root"
  mv "$kernel_root.new" "$kernel_root"
  rm -f "$cache"/*.deb
fi
vmlinuz=$(compgen -G "$kernel_root/boot/vmlinuz-*" | head -1)
release=${vmlinuz##*/vmlinuz-}
moddir=$kernel_root/lib/modules/$release

# The modules the guest loads, each after those it needs (modules.dep), with
# their parameters: usb-storage uses a new device at once.
wanted=(virtio_pci 9pnet_virtio 9p configfs dummy_hcd libcomposite usb_f_fs usb-storage sr_mod sg)
declare -A params=([usb-storage]="delay_use=0")
declare -A deps=() loaded=()
while IFS= read -r line; do
  key=${line%%:*}
  deps[$key]=${line#*:}
done <"$moddir/modules.dep"
order=()
add_module() {  # PATH relative to the module folder
  local path=$1 dep
  [ -n "${loaded[$path]:-}" ] && return
  loaded[$path]=1
  for dep in ${deps[$path]}; do add_module "$dep"; done
  order+=("$path")
}
for name in "${wanted[@]}"; do
  path=$(grep -E "/${name}\.ko(\.[a-z]+)?$" <(printf '%s\n' "${!deps[@]}") | head -1 || true)
  if [ -z "$path" ]; then
    grep -qE "/${name}\.ko" "$moddir/modules.builtin" && continue
    echo "kernel-vm: module $name not in $release" >&2
    exit 1
  fi
  add_module "$path"
done

# The initramfs: busybox, the modules, /etc with the guest's users, and the
# links of a merged /usr whose /usr arrives over 9p.
initrd=$cache/initrd-$release.gz
stamp=$(sha256sum "$0" | cut -c1-16)
if [ ! -f "$initrd" ] || [ "$(cat "$initrd.stamp" 2>/dev/null)" != "$stamp" ]; then
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  chmod 0755 "$root"  # the guest's / (mktemp made it 0700)
  mkdir -p "$root"/{qm/modules,etc,proc,sys,dev,tmp,run,usr,mnt}
  cp "$busybox" "$root/qm/busybox"
  for l in bin sbin lib lib64; do ln -s "usr/$l" "$root/$l"; done
  n=10
  for path in "${order[@]}"; do
    base=${path##*/}
    name=${base%%.ko*}
    case $base in
      *.ko.xz) xz -dc "$moddir/$path" >"$root/qm/modules/$n-$name.ko" ;;
      *.ko.zst) zstd -qdc "$moddir/$path" >"$root/qm/modules/$n-$name.ko" ;;
      *) cp "$moddir/$path" "$root/qm/modules/$n-$name.ko" ;;
    esac
    key=${name//_/-}
    [ -n "${params[$key]:-}" ] && echo "${params[$key]}" >"$root/qm/modules/$n-$name.params"
    n=$((n + 1))
  done
  # Users: root; qmcd, in the cdrom group; qmuser, in no group of a drive.
  cat >"$root/etc/passwd" <<'USERS'
root:x:0:0:root:/root:/bin/sh
qmcd:x:1001:1001::/tmp:/bin/sh
qmuser:x:1002:1002::/tmp:/bin/sh
USERS
  cat >"$root/etc/group" <<'GROUPS'
root:x:0:
disk:x:6:
cdrom:x:24:qmcd
qmcd:x:1001:
qmuser:x:1002:
GROUPS
  printf 'passwd: files\ngroup: files\nshadow: files\n' >"$root/etc/nsswitch.conf"
  cat >"$root/init" <<'INIT'
#!/qm/busybox sh
# The guest's start: file systems, modules, the shares, then the script.
b=/qm/busybox
$b mount -t proc proc /proc
$b mount -t sysfs sys /sys
$b mount -t devtmpfs dev /dev
$b mount -t tmpfs tmp /tmp
$b mount -t tmpfs run /run
for m in /qm/modules/*.ko; do
  p=
  [ -f "${m%.ko}.params" ] && p=$($b cat "${m%.ko}.params")
  # shellcheck disable=SC2086
  $b insmod "$m" $p || echo "guest: insmod $m failed"
done
$b mount -t configfs configfs /sys/kernel/config
set -- $($b cat /proc/cmdline)
for a; do
  case $a in qm.*=*) eval "${a#qm.}" ;; esac
done
shares=$(echo "${shares:-}" | $b tr , ' ')
$b mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose usr /usr
# The tree and the extra shares read-only, the output folder writable.
o=trans=virtio,version=9p2000.L,msize=262144
i=0
for path in $tree $shares; do
  $b mkdir -p "$path"
  $b mount -t 9p -o $o,ro,cache=loose "share$i" "$path"
  i=$((i + 1))
done
$b mkdir -p "$out"
$b mount -t 9p -o $o out "$out"
export PATH=/usr/sbin:/usr/bin HOME=/tmp QM_OUT="$out" LANG=C.UTF-8
echo "guest: up $($b cut -d' ' -f1 /proc/uptime) s"
/bin/sh "$script" >"$out/guest.log" 2>&1
echo $? >"$out/guest-rc"
echo "guest: script ended $($b cut -d' ' -f1 /proc/uptime) s, exit $($b cat "$out/guest-rc")"
$b sync
$b poweroff -f
INIT
  chmod +x "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new"
  mv "$initrd.new" "$initrd"
  echo "$stamp" >"$initrd.stamp"
  rm -rf "$root"
  trap - EXIT
fi

accel=tcg
[ -r /dev/kvm ] && [ -w /dev/kvm ] && accel=kvm
rm -f "$out/guest-rc" "$out/serial.log"
shares=(-virtfs "local,path=/usr,mount_tag=usr,security_model=none,readonly=on"
        -virtfs "local,path=$out,mount_tag=out,security_model=none")
i=0
for path in "$here" "${extra[@]}"; do
  [[ $path =~ ^[A-Za-z0-9/._+-]+$ ]] || { echo "kernel-vm: $path: a path of letters, digits and /._+- only" >&2; exit 2; }
  shares+=(-virtfs "local,path=$path,mount_tag=share$i,security_model=none,readonly=on")
  i=$((i + 1))
done
# The paths reach the guest on the kernel's command line.
args="qm.script=$script qm.tree=$here qm.out=$out"
[ ${#extra[@]} -gt 0 ] && args+=" qm.shares=$(IFS=,; echo "${extra[*]}")"
cmdline="console=ttyS0 quiet panic=-1 $args ${QM_KERNEL_ARGS:-}"
start=$(date +%s%N)
status=0
timeout "${QM_VM_TIMEOUT:-280}" qemu-system-x86_64 -accel "$accel" -smp 2 -m 512 \
  -display none -monitor none -serial "file:$out/serial.log" -no-reboot -nodefaults \
  -kernel "$vmlinuz" -initrd "$initrd" -append "$cmdline" "${shares[@]}" || status=$?
end=$(date +%s%N)
ms=$(((end - start) / 1000000))
echo "kernel-vm: $release, $accel, $((ms / 1000)).$(printf %03d $((ms % 1000))) s" >&2
if [ $status -eq 124 ]; then
  echo "kernel-vm: the guest did not end in time" >&2
  exit 124
fi
[ -f "$out/guest-rc" ] || { echo "kernel-vm: the guest ended without running its script" >&2; tail -30 "$out/serial.log" >&2; exit 1; }
exit "$(cat "$out/guest-rc")"
