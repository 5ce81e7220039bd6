#!/usr/bin/env bash
# Builds the fuzzer's seed inputs from the real engine bodies in tests/fixtures.
#   make_corpus.sh OUTPUT_DIR      writes one seed per (body, entry point, generation)
#   make_corpus.sh --name BYTE     prints the entry point a first input byte selects
# A seed is: selector byte, generation byte, body (see tests/fuzz/fuzz_dispatch.h).
set -euo pipefail

# Entry point names in selector order, from the dispatcher's table (one row per entry point).
mapfile -t names < <(sed -nE 's/^ *\{"([a-z_]+)", ".*/\1/p' "$(dirname "$0")/fuzz_dispatch.cpp")

if [ "${1:-}" = "--name" ]; then
  echo "${names[$(( ${2:?byte} % ${#names[@]} ))]}"
  exit 0
fi

out=${1:?usage: make_corpus.sh OUTPUT_DIR}
here="$(cd "$(dirname "$0")" && pwd)"
fixtures="$(cd "$here/../fixtures" && pwd)"
mkdir -p "$out"

index_of() {
  local i
  for i in "${!names[@]}"; do
    [ "${names[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo "unknown entry point $1" >&2
  exit 1
}

# Entry points that read a body whose document element is the given name.
entry_points_for_root() {
  case $1 in
    api) echo detect_version api_info ;;
    fault) echo fault_logged fault_quiet last_error action_quiet ;;
    action) echo action_logged action_quiet last_error fault_quiet ;;
    usage_message) echo last_error ;;
    jobs) echo job_list ;;
    data_centers) echo data_center_list ;;
    clusters) echo cluster_list ;;
    hosts) echo host_list ;;
    tags) echo tag_list ;;
    networks) echo network_list ;;
    vnic_profiles) echo vnic_profile_list ;;
    nics) echo nic_list ;;
    vms) echo vm_list ;;
    storage_domains) echo storage_domain_list ;;
    disks) echo disk_list ;;
    disk_attachments) echo disk_attachment_list ;;
    disk_attachment) echo disk_attachment followed_disk_attachment ;;
    snapshots) echo snapshot_list ;;
    job | creation | data_center | cluster | host | tag | network | vnic_profile | nic | vm | \
      storage_domain | disk | snapshot) echo "$1" ;;
    *) echo "" ;;
  esac
}

# Document element of a body, and the first item of a list as a document of its own (so the
# object readers without a fixture of their own get a real body too).
root_of() {
  perl -0777 -ne 's/<\?.*?\?>//gs; s/<!--.*?-->//gs; /<([A-Za-z_][\w.-]*)/ and print $1' "$1"
}
first_item_of() {
  perl -0777 -ne '
    s/<\?.*?\?>//gs; s/<!--.*?-->//gs;
    s/^\s*<[A-Za-z_][\w.-]*[^>]*>//s or exit;
    my $element = qr{(<([A-Za-z_][\w.-]*)\b[^>]*?(?:/>|>(?:[^<]++|(?1))*</\2\s*>))}s;
    print $1 if /$element/;' "$1"
}

# List bodies go in as several seeds of at most kMaxSeed bytes, their items trimmed to the
# elements the readers look for (split_list.pl): the names quoted in the readers' calls that
# compare names (not those only the writers write).
kMaxSeed=2048
read_names=$(perl -0777 -ne '
  while (/\b(?:NameIs|Parse\w*From\w*|ParseObject|ParseList)\s*\(([^;{]*)/g) {
    my $arguments = $1;
    print "$1 " while $arguments =~ /"([a-z_]+)"/g;
  }' "$here/../../src/xml/"*.cpp)
split_list() {  # list_file output_prefix; prints how many seeds it wrote
  perl "$here/split_list.pl" "$read_names" "$kMaxSeed" "$1" "$2"
}

# A body other than a list trimmed as a list's items are, behind its XML declaration if any.
trim_body() {
  perl -0777 -ne '/^(<\?xml[^>]*\?>\s*)/ and print $1' "$1"
  perl -0777 -pe 's/^<\?xml[^>]*\?>//; $_ = "<body>$_</body>"' "$1" >"$work/whole"
  split_list "$work/whole" "$work/whole" >/dev/null
  first_item_of "$work/whole1"
}

write_seed() {  # selector generation body_file name
  printf "\\$(printf %03o "$1")\\$(printf %03o "$2")" >"$out/$4"
  cat "$3" >>"$out/$4"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
item=$work/item
count=0
write_seeds() {  # body_file name_stem entry_point... (the generations from $generations)
  local body=$1 stem=$2 entry g
  shift 2
  for entry in "$@"; do
    for g in $generations; do
      write_seed "$(index_of "$entry")" "$g" "$body" "$stem-$entry-g$g"
      count=$((count + 1))
    done
  done
}
for file in "$fixtures"/v3/*.xml "$fixtures"/v4/*.xml; do
  generation_dir=$(basename "$(dirname "$file")")
  # Generations (fuzz_dispatch.cpp): v3 bodies under 3.5.0 and 3.6.7, v4 under 4.0.0 and 4.3.10.
  if [ "$generation_dir" = v3 ]; then generations="2 3"; else generations="4 7"; fi
  stem="${generation_dir}-$(basename "$file" .xml)"
  root=$(root_of "$file")
  read -ra entries <<<"$(entry_points_for_root "$root")"
  case $root in
    *s) ;;
    api)
      # Read twice by the version detection, and nine tenths links no reader looks at.
      trim_body "$file" >"$item"
      write_seeds "$item" "$stem" "${entries[@]}"
      continue
      ;;
    *)
      write_seeds "$file" "$stem" "${entries[@]}"
      continue
      ;;
  esac
  parts=$(split_list "$file" "$work/part")
  for part in $(seq "$parts"); do
    write_seeds "$work/part$part" "$stem-part$part" "${entries[@]}"
  done
  # The first item as a body of its own, trimmed as in the list seeds.
  first_item_of "$work/part1" >"$item"
  [ -s "$item" ] || continue
  read -ra entries <<<"$(entry_points_for_root "$(root_of "$item")")"
  write_seeds "$item" "$stem-first" "${entries[@]}"
done
# A VM list as engines from 4.2 answer "follow=disk_attachments.disk,snapshots": the recorded
# attachments (each with the recorded disk of its id, where there is one) inside the first
# recorded VM and the recorded snapshots inside the second, so that each makes a seed of its own
# of about 2.5 KB.
perl -0777 -e '
  sub inner { my ($file, $list) = @_; local $/; open my $f, "<", $file or die;
              my $t = <$f>; $t =~ m{<$list>(.*)</$list>}s ? $1 : "" }
  my ($fx) = @ARGV;
  my %disks; my $d = inner("$fx/v4/disks.xml", "disks");
  $disks{$2} = $1 while $d =~ m{(<disk href="[^"]*" id="([^"]+)">.*?</disk>)}gs;
  my $attachments = inner("$fx/v4/disk_attachments.xml", "disk_attachments");
  $attachments =~ s{<disk href="[^"]*" id="([^"]+)"/>}{$disks{$1} // $&}ge;
  my $snapshots = inner("$fx/v4/snapshots.xml", "snapshots");
  local $/; open my $v, "<", "$fx/v4/vms.xml" or die; my $vms = <$v>;
  my @inline = ("<disk_attachments>$attachments</disk_attachments>", "<snapshots>$snapshots</snapshots>");
  $vms =~ s{</vm>}{(shift(@inline) // "") . $&}ge;
  print $vms;' "$fixtures" >"$item"
generations="4 7"
parts=$(split_list "$item" "$work/followed")
for part in $(seq "$parts"); do
  write_seeds "$work/followed$part" "v4-vms-followed-part$part" followed_vm_list
done

# The same real bodies as an engine never sends them: in other encodings and behind a document
# type declaration, so the fuzzer starts from both sides of the checks that refuse them. The VM
# is trimmed: four times its recorded 5.9 KB in UTF-32 made it the largest seed by far, and
# libFuzzer lets every mutation grow an input up to the largest seed.
trim_body "$fixtures/v3/vm.xml" >"$work/vm.xml"
encoded=$work/encoded
for pair in "$fixtures/v4/fault.xml last_error 4 v4-fault" "$work/vm.xml vm 3 v3-vm"; do
  read -r body entry g stem <<<"$pair"
  for encoding in UTF-16LE UTF-16BE UTF-32LE cp37; do
    perl -MEncode -0777 -pe "\$_ = encode('$encoding', decode('UTF-8', \$_))" "$body" >"$encoded"
    write_seed "$(index_of "$entry")" "$g" "$encoded" "$stem-$encoding-$entry-g$g"
    count=$((count + 1))
  done
  perl -0777 -pe 's/^(<\?xml[^>]*>)?/$1<!DOCTYPE x [<!ENTITY e "e">]>/' "$body" >"$encoded"
  write_seed "$(index_of "$entry")" "$g" "$encoded" "$stem-doctype-$entry-g$g"
  count=$((count + 1))
done
echo "$count seed inputs in $out"
