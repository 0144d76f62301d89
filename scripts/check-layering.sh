#!/usr/bin/env bash
# Checks the include directions of the source floors from their #include lines:
#   core <- processing <- io <- display <- evaluation <- ct <- commands <- {app, help, batch}
# A floor includes only from itself and the floors to its left; app/ and help/ may include
# each other; batch/ sits beside them and includes neither. Outside app/ and help/ no file
# includes a wx GUI header or OpenGL: only the wx headers listed below (strings, files,
# logging, wxImage and its handlers) are allowed there.
# Below the entry points nothing reads or writes the record: in processing/ and ct/ only the
# entry-point files listed in record_entry_points may include core/record.h (headers too);
# every other file there receives planes, sizes and a parameter struct.
# Usage: scripts/check-layering.sh [SOURCE_ROOT]; prints every breach and exits 1 if any.
set -u
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

floors=(core processing io display evaluation ct commands)
# wx headers the core floors and the batch tool may use: wx base, and wxImage without a display.
allowed_wx='^wx/(string|log|image|imagjpeg|imagpng|imagtiff|imagbmp|imagpnm|imaggif|filename|file|ffile|dir|filefn|utils|intl|mstream|wfstream|sstream|stream|stopwatch|datetime|arrstr|tokenzr|strconv|buffer|init|app|math|textfile|regex|thread|crt|defs|version|platinfo)\.h$'

allowed_for() {  # prints the project folders a file in folder $1 may include
    local dir=$1 i
    case $dir in
        app|help) echo "${floors[*]} app help"; return ;;
        batch) echo "${floors[*]} batch"; return ;;
    esac
    for ((i = 0; i < ${#floors[@]}; i++)); do
        printf '%s ' "${floors[i]}"
        [ "${floors[i]}" = "$dir" ] && break
    done
    echo
}

# The one file per folder that builds the parameter structs from the record.
record_entry_points=(processing/filter_entries.cpp ct/metal_pipeline.cpp ct/rsq_file.cpp)
record_rule_floors=(processing ct)

status=0
for dir in "${record_rule_floors[@]}"; do
    [ -d "$dir" ] || continue
    while IFS= read -r hit; do
        file=${hit%%:*}
        rest=${hit#*:}
        [[ " ${record_entry_points[*]} " == *" $file "* ]] && continue
        echo "$file:${rest%%:*}: only the entry points may include core/record.h"
        status=1
    done < <(grep -rn --include='*.cpp' --include='*.h' --include='*.inc' \
                 -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"core/record\.h"' "$dir" | sort)
done

for dir in "${floors[@]}" app help batch; do
    [ -d "$dir" ] || continue
    allowed=" $(allowed_for "$dir") "
    while IFS= read -r file; do
        while IFS= read -r line; do
            n=${line%%:*}
            text=${line#*:}
            if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
                target=${BASH_REMATCH[1]}
                folder=${target%%/*}
                if [ "$folder" = "$target" ]; then
                    # A bare name is the file's own folder only when it exists there.
                    [ -e "$dir/$target" ] && continue
                    echo "$file:$n: includes \"$target\" without its folder"
                    status=1
                elif [[ $allowed != *" $folder "* ]]; then
                    echo "$file:$n: $dir/ may not include $target"
                    status=1
                fi
            elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
                target=${BASH_REMATCH[1]}
                [ "$dir" = app ] || [ "$dir" = help ] && continue
                if [[ $target == GL/* || $target == GLES* ]]; then
                    echo "$file:$n: $dir/ may not include OpenGL <$target>"
                    status=1
                elif [[ $target == wx/* && ! $target =~ $allowed_wx ]]; then
                    echo "$file:$n: $dir/ may not include the GUI header <$target>"
                    status=1
                fi
            fi
        done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
    done < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) | sort)
done
[ $status -eq 0 ] && echo "layering: every include goes the allowed way"
exit $status
