#!/usr/bin/env bash
# The same bytes everywhere: runs a target build of qmjpeg (through its emulator, if any) and a
# reference build on the same inputs at the same processor classes, and requires identical
# output files, messages and exit statuses. The inputs are the examples, the textured pairs of
# tools/make-textured-pairs.py (also under non-ASCII file names), and a few failing calls.
#
# Usage: golden-compare.sh --reference BIN --target BIN [--emulator "CMD ARG..."]
#                          [--override env|registry] [--classes "0 3 unset unset:0"]
# Each class entry is TARGET[:REFERENCE], the override given to the target and to the reference
# (the same when REFERENCE is left out); "unset" gives none, so the processor decides. The
# reference always takes QMJPEG_USECPU; the target takes it too (env) or, for Windows builds
# under Wine, the registry value USECPU (registry). Messages may end in CR LF on the target.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
reference="" target="" emulator="" override=env classes="0 3"
while [ $# -gt 0 ]; do
    case "$1" in
        --reference) reference=$(realpath "$2"); shift 2 ;;
        --target) target=$(realpath "$2"); shift 2 ;;
        --emulator) emulator=$2; shift 2 ;;
        --override) override=$2; shift 2 ;;
        --classes) classes=$2; shift 2 ;;
        *) echo "golden-compare: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
[ -x "$reference" ] && [ -f "$target" ] || { echo "golden-compare: need --reference and --target" >&2; exit 2; }
read -r -a emulate <<<"$emulator"

work=$(mktemp -d)
cleanup() {
    if [ "$override" = registry ] && [ -n "${own_prefix:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

registry_key='HKLM\Software\Dodov Corporation\VIDidur\RADuz'
if [ "$override" = registry ]; then
    export WINEDEBUG=-all
    if [ -z "${WINEPREFIX:-}" ]; then
        export WINEPREFIX="$work/wineprefix"
        own_prefix=1
        "${emulate[@]}" wineboot -i >/dev/null 2>&1 || true
    fi
fi

# The target's override for one class entry; the reference's is set per run.
set_target_override() {
    local value=$1
    case "$override" in
        env) ;;
        registry)
            # The 32-bit view is where both Windows builds read the value.
            if [ "$value" = unset ]; then
                "${emulate[@]}" reg delete "$registry_key" /v USECPU /f /reg:32 >/dev/null 2>&1 || true
            else
                "${emulate[@]}" reg add "$registry_key" /v USECPU /t REG_DWORD /d "$value" /f /reg:32 >/dev/null
            fi ;;
        *) echo "golden-compare: unknown override '$override'" >&2; exit 2 ;;
    esac
}

# run SIDE CLASS PREFIX ARGS...: runs one build, leaving PREFIX.out (standard output without
# CRs) and PREFIX.status.
run() {
    local side=$1 value=$2 prefix=$3
    shift 3
    local -a environment=(env -u QMJPEG_USECPU)
    if [ "$value" != unset ] && { [ "$side" = reference ] || [ "$override" = env ]; }; then
        environment=(env QMJPEG_USECPU="$value")
    fi
    local status=0
    if [ "$side" = reference ]; then
        "${environment[@]}" "$reference" "$@" >"$prefix.raw" 2>/dev/null || status=$?
    else
        "${environment[@]}" "${emulate[@]}" "$target" "$@" >"$prefix.raw" 2>/dev/null || status=$?
    fi
    tr -d '\r' <"$prefix.raw" >"$prefix.out"
    echo "$status" >"$prefix.status"
}

failures=0 checks=0
report() { # report OK|FAIL TEXT
    checks=$((checks + 1))
    if [ "$1" = OK ]; then echo "ok    $2"; else echo "FAIL  $2"; failures=$((failures + 1)); fi
}

# Inputs: the examples and the textured pairs, one pair again under non-ASCII names.
cp "$source_dir/examples/model.qm" "$source_dir/examples/source.bmp" "$source_dir/examples/final.bmp" .
python3 "$source_dir/tools/make-textured-pairs.py" .
cp model.qm 'Modell-äöü-€.qm'
cp noise24-source.bmp 'Quelle-äöü-€.bmp'
cp noise24-final.bmp 'Ergebnis-ß-日本.bmp'

# A model over 2 and 4 GiB (sparse): sizes and offsets are 64-bit on every target.
cp model.qm huge.qm
truncate -s 3G huge.qm

# name | arguments before the output file
cases=("exampleModel|-f model.qm" "exampleShading|-i source.bmp final.bmp" "threeGiBModel|-f huge.qm")
for source in *-source.bmp; do
    pair=${source%-source.bmp}
    cases+=("$pair|-i $pair-source.bmp $pair-final.bmp")
done

for entry in $classes; do
    target_class=${entry%%:*}
    reference_class=${entry#*:}
    set_target_override "$target_class"
    for row in "${cases[@]}"; do
        name=${row%%|*}
        read -r -a arguments <<<"${row#*|}"
        run reference "$reference_class" ref "${arguments[@]}" ref.jpg
        run target "$target_class" tgt "${arguments[@]}" tgt.jpg
        if [ "$(cat ref.status)" = 0 ] && cmp -s ref.out tgt.out && cmp -s ref.status tgt.status &&
            cmp -s ref.jpg tgt.jpg; then
            report OK "class $entry  $name ($(stat -c %s tgt.jpg) bytes)"
        else
            report FAIL "class $entry  $name: status $(cat tgt.status) vs $(cat ref.status)," \
                "output $(cmp ref.jpg tgt.jpg 2>&1 | head -1 || true)"
        fi
        rm -f ref.jpg tgt.jpg
    done
    # Non-ASCII names: the wide command line and the platform's file calls, in both modes.
    run reference "$reference_class" ref -i noise24-source.bmp noise24-final.bmp ref.jpg
    for row in "nonAsciiModel|-f Modell-äöü-€.qm|model.qm" \
        "nonAsciiBitmaps|-i Quelle-äöü-€.bmp Ergebnis-ß-日本.bmp|ref.jpg"; do
        IFS='|' read -r name argument_text expected <<<"$row"
        read -r -a arguments <<<"$argument_text"
        if [ "$expected" = model.qm ]; then
            run reference "$reference_class" ref -f model.qm model.jpg
            expected=model.jpg
        fi
        run target "$target_class" tgt "${arguments[@]}" 'Ausgabe-é-中.jpg'
        if [ "$(cat tgt.status)" = 0 ] && cmp -s "$expected" 'Ausgabe-é-中.jpg'; then
            report OK "class $entry  $name"
        else
            report FAIL "class $entry  $name: status $(cat tgt.status), output '$(cat tgt.out)'"
        fi
        rm -f 'Ausgabe-é-中.jpg'
    done
    rm -f ref.jpg model.jpg
done

# Failing calls: the same message and status 1, and no output file.
usage_tail=' <-f <qmFile>.qm | -i <srcImg>.bmp <finalImg>.bmp> <output>.jpg'
for row in "wrongOption|-x model.qm out.jpg" "tooFewArguments|-f model.qm" \
    "imageWithTwoFiles|-i source.bmp out.jpg"; do
    name=${row%%|*}
    read -r -a arguments <<<"${row#*|}"
    run target unset tgt "${arguments[@]}"
    if [ "$(cat tgt.status)" = 1 ] && [ "$(wc -l <tgt.out)" = 1 ] &&
        [[ "$(cat tgt.out)" == *"$usage_tail" ]] && [ ! -e out.jpg ]; then
        report OK "usage  $name"
    else
        report FAIL "usage  $name: status $(cat tgt.status), output '$(cat tgt.out)'"
    fi
done
for row in "missingModel|-f missing.qm out.jpg" "missingBitmap|-i missing.bmp final.bmp out.jpg" \
    "notAModel|-f source.bmp out.jpg" "sizeMismatch|-i source.bmp noise24-final.bmp out.jpg"; do
    name=${row%%|*}
    read -r -a arguments <<<"${row#*|}"
    run reference unset ref "${arguments[@]}"
    run target unset tgt "${arguments[@]}"
    if [ "$(cat tgt.status)" = 1 ] && cmp -s ref.status tgt.status && cmp -s ref.out tgt.out &&
        [ ! -e out.jpg ]; then
        report OK "failure  $name: $(head -c 60 tgt.out | tr '\n' ' ')"
    else
        report FAIL "failure  $name: status $(cat tgt.status), output '$(cat tgt.out)'"
    fi
done

echo "golden-compare: $((checks - failures)) of $checks checks passed"
[ "$failures" -eq 0 ]
