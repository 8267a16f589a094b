#!/usr/bin/env bash
# Fails when a file of the system proper includes against its layers:
#   platform/  only itself (and system headers);
#   archives/  the base: platform/ and archives/; only the component's own files (the component,
#              the format table, the chief header) reach formats/ and filters/;
#   filters/   platform/, archives/, filters/;   formats/  platform/, archives/, formats/;
#   and no POSIX or Qt header outside platform/ and app/ (the archiver libraries and tools keep
#   their own POSIX code).
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
component='^archives/(ArchiveFile|ArchiverFormats|ARCHIVES)\.(h|cpp)$'
posix='(unistd|fcntl|dirent|dlfcn|pwd|grp|poll|termios|pthread|spawn|iconv|sys/[a-z_]+)\.h'
fail=0
report() { echo "$1: $2"; fail=1; }
while IFS= read -r f; do
  layer=${f%%/*}
  while IFS= read -r inc; do
    case "$inc" in
      \"*) dir=${inc#\"}; dir=${dir%%/*}
           [[ "$inc" == *"/"* ]] || continue
           case "$layer" in
             platform) [[ $dir == platform ]] || report "$f" "platform/ includes $inc" ;;
             archives) if [[ $dir == formats || $dir == filters ]]; then
                         [[ $f =~ $component ]] || report "$f" "the archives base includes $inc"
                       elif [[ $dir != archives && $dir != platform ]]; then
                         report "$f" "archives/ includes $inc"
                       fi ;;
             filters)  [[ $dir == platform || $dir == archives || $dir == filters ]] ||
                         report "$f" "filters/ includes $inc" ;;
             formats)  [[ $dir == platform || $dir == archives || $dir == formats ]] ||
                         report "$f" "formats/ includes $inc" ;;
           esac ;;
      \<*) name=${inc#<}; name=${name%>}
           if [[ $layer != platform ]] && [[ $name =~ ^$posix$ || $name =~ ^Q || $name =~ ^qt ]]; then
             report "$f" "system header $inc outside platform/"
           fi ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*\([<"][^>"]*[>"]\).*/\1/p' "$f")
done < <(find platform archives filters formats -name '*.h' -o -name '*.cpp' | sort)
if ((fail)); then
  echo "includes against the layers"
  exit 1
fi
echo "layers: every include of platform/, archives/, filters/ and formats/ is in its place"
