#!/bin/bash
# Plants one-line faults in the batch (its dialog too), command-line, common,
# metadata, decoder, resampler, size search and JPEG encoder code, one at a time, and checks that the test suite notices each:
#     scripts/mutants.sh [BUILD]        (default build/, already configured)
# Each line of the list below is FILE|WHAT IS THERE|WHAT IT BECOMES; the
# first text must occur exactly once. The tree is restored after each.
# Prints one line a fault and "N caught, M missed"; exits 1 if any missed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
tests='^(tst_batch|tst_batchdialog|tst_cli|tst_savefile|tst_keepexisting|tst_numbers|tst_resizejob|tst_sizesearch|tst_decode|tst_jpeg|tst_resample)$'
targets=(tovalin-cli tovalin-bench tst_batch tst_batchdialog tst_cli tst_savefile tst_keepexisting tst_numbers tst_resizejob tst_sizesearch tst_decode tst_jpeg tst_resample)
faults=$(cat <<'LIST'
src/batch/batchjob.cpp|if (!ownInput && (inputPaths.contains|if (false && (inputPaths.contains
src/batch/batchjob.cpp|else if (taken.contains(p.output))|else if (false)
src/batch/batchjob.cpp|if (p.conflict == BatchProblem::None) // a refused file writes nothing|if (true)
src/batch/batchjob.cpp|const bool mayReplace = options.overwrite \|\| replacingOwnInput;|const bool mayReplace = true;
src/batch/batchjob.cpp|request.existing = mayReplace ? Existing::Replace : Existing::Keep;|request.existing = Existing::Replace;
src/batch/batchjob.cpp|existing += p.conflict == BatchProblem::None && p.output|existing += p.output
src/batch/batchjob.cpp|&& ::lstat(nativePath(p.output).constData(), &st) == 0;|\&\& ::stat(nativePath(p.output).constData(), \&st) == 0;
src/batch/batchjob.cpp|                return BatchProblem::LinkInOutput;|                ;
src/batch/batchjob.cpp|const bool below = at > from;|const bool below = false;
src/imaging/decode/decode.cpp|            file.error = DecodeError::OutOfMemory;|            file.error = DecodeError::Damaged;
src/batch/batchjob.cpp|return failed(BatchProblem::NoShrinkFits);|return failed(BatchProblem::Job);
src/batch/batchjob.cpp|if (input.bytes.size() < input.fileSize) {|if (false) {
src/batch/batchrunner.cpp|control.signal = m_external;|control.signal = nullptr;
src/batch/batchrunner.cpp|            if (m_stop)\n                control.cancel = true;|
src/resize/resizejob.h|constexpr int kMinShrunkSide = 16;|constexpr int kMinShrunkSide = 1;
src/resize/resizejob.cpp|            r.failure = JobFailure::NoSizeFits; // an over-target file is never written as if it fitted|
src/batch/batchrunner.cpp|return int(std::clamp<std::int64_t>(memoryBudget / kJobReserveBytes, 1, std::max(1, jobs)));|return std::max(1, jobs);
src/batch/memorybudget.h|return m_held == 0 \|\| m_held + bytes <= m_total;|return m_held + bytes <= m_total;
src/batch/collect.cpp|if (name.startsWith('.')) {|if (false) {
src/batch/collect.cpp|isSaveTemporary(pathFromNative(name)) ? Passed::Temporary : Passed::Hidden|Passed::Hidden
src/batch/collect.cpp|else if (!m_output.isEmpty() && realPath(path) == m_output)|else if (false)
src/batch/collect.cpp|pass(path, Passed::FolderLink);|pass(path, Passed::NotPicture);
src/batch/naming.cpp|QStringList names{baseOf(inputName) + QStringLiteral("_resized.jpg")};|QStringList names;
src/batch/naming.cpp|    if (!suffix.isEmpty())\n        names << batchOutputName|    if (true)\n        names << batchOutputName
src/batch/collect.cpp|if (id && seen.contains(*id)) {|if (false) {
src/batch/collect.cpp|                pass(path, Passed::Unreadable);\n                continue;|                pass(path, Passed::NotPicture);\n                continue;
src/batch/naming.cpp|return !suffix.contains(QLatin1Char('/')) && !suffix.contains(QChar(0));|return true;
src/batch/naming.cpp|inputPath == QLatin1String("-") ? QStringLiteral("stdin")|inputPath == QLatin1String("-") ? QStringLiteral("-")
src/batch/naming.cpp|if (!isInput \|\| inPlace)|if (!isInput)
src/batch/sizerule.cpp|return wholeNumberIn(text, 1, kMaxBatchPercent);|return wholeNumberIn(text, 1, 1000);
src/batch/metadata.cpp|    {EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL},|
src/batch/metadata.cpp|exif_data_get_byte_order(kept.get()), 1);|exif_data_get_byte_order(kept.get()), 6);
src/batch/metadata.cpp|    {EXIF_IFD_0, EXIF_TAG_MAKE},|
src/cli/cli.cpp|return counts.overTarget > 0 ? 3 : 0;|return 0;
src/cli/cli.cpp|    if (counts.failed > 0)\n        return 1;|
src/cli/cli.cpp|        return 128 + signal;|        return 1;
src/cli/cli.cpp|    std::signal(SIGPIPE, SIG_IGN);|
src/cli/cli.cpp|                o.status = BatchStatus::Failed;\n                o.problem = BatchProblem::Job;|                o.problem = BatchProblem::Job;
src/cli/cli.cpp|            streamBroken = true;|            streamBroken = false;
src/cli/cli.cpp|(length == 1 && (c < 0x20 \|\| c == 0x7F))|(length == 1 \&\& c == 0x7F)
src/cli/cli.cpp|else if (p.isSet(output) && b.outputFolder.isEmpty())|else if (false)
src/cli/cli.cpp|else if (r.inputs.contains(QStringLiteral("-")) && b.outputFolder.isEmpty())|else if (false)
src/cli/cli.cpp|const bool over = o.status == BatchStatus::Written && o.job.overTarget;|const bool over = false;
src/common/savefile.cpp|target.constData(), RENAME_NOREPLACE)|target.constData(), 0)
src/common/savefile.cpp|if (::link(temp.constData(), target.constData()) == 0) {|if (::rename(temp.constData(), target.constData()) == 0) {
src/common/savefile.cpp|    if (::lstat(target.constData(), &st) == 0) {\n        errno = EEXIST;|    if (false) {\n        errno = EEXIST;
src/common/savefile.cpp|        if (why == EEXIST)\n            return SaveError::Exists;|
src/common/memorypolicy.cpp|least(roomIn({cgroupRoot + path, cgroupRoot}, "memory.max", "memory.current"));|least(roomIn({cgroupRoot + path}, "memory.max", "memory.current"));
src/common/memorypolicy.cpp|return std::max<std::int64_t>(0, limit - use);|return limit;
src/common/memorypolicy.cpp|    return machineMemory() / 4;|    return machineMemory() * 4;
src/common/savefile.cpp|            if (n == 0)\n                errno = EIO;\n            return false;|            if (n == 0)\n                errno = EIO;\n            return true;
src/imaging/decode/bands.cpp|            out[3 * x + 2] = uchar(qBlue(p));|            out[3 * x + 2] = uchar(qGreen(p));
src/imaging/jpeg/trials_quant.cpp|constexpr std::uint32_t kDeadZoneTenths = 6;|constexpr std::uint32_t kDeadZoneTenths = 5;
src/imaging/jpeg/trials_quant.cpp| + 1 - (k == kBlock - 1 ? 3 : 0);| + 1;
src/imaging/jpeg/trials_quant.cpp|    return q.ours ? trimTail(coefs, q.natural[table], levels, nonzero) : nonzero;|    return nonzero;
src/imaging/jpeg/trials_scans.cpp|constexpr long kMaxEobRun = 0x7FFF;|constexpr long kMaxEobRun = 0x8000;
src/imaging/jpeg/trials_scans.cpp|            if (last == s.se)\n                return;|
src/imaging/jpeg/trials_dering.cpp|std::min(31, (255 * kBlock - sum) / whites)|std::min(63, (255 * kBlock - sum) / whites)
src/imaging/jpeg/trials_kernels.cpp|_mm256_cmpgt_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(\&q.zeroBelow[at])), magnitude)|_mm256_cmpgt_epi16(magnitude, magnitude)
src/imaging/jpeg/jpegtrials.cpp|const bool dering = m_encoder != Encoder::Libjpeg;|const bool dering = false;
src/imaging/jpeg/trials_monotone.cpp|m_exact[step] < m_exact[best] \|\||m_exact[step] > m_exact[best] \|\|
src/imaging/jpeg/trials_monotone.cpp|    return s.tableBytes + data.size();|    return s.tableBytes + (s.bits + 7) / 8;
src/imaging/jpeg/trials_monotone.cpp|        if (bytes <= shortest) {|        if (bytes < shortest) {
src/imaging/jpeg/trials_monotone.cpp|        } else if (!m_every && bytes > shortest + margin(shortest)) {|        } else if (bytes > shortest + margin(shortest)) {
src/imaging/jpeg/trials_monotone.cpp|    int best = factor;|    return factor;\n    int best = factor;
src/imaging/jpeg/trials_monotone.cpp|        const std::int64_t bytes = atLeast <= shortest ? size(f) : atLeast;|        const std::int64_t bytes = atLeast;
src/imaging/jpeg/trials_scans.cpp|        data += (plan.bits[scan] + 7) / 8;|        data += plan.bits[scan] / 8;
src/imaging/jpeg/trials_monotone.h|return bytes > limit && (m_every \|\| bytes <= limit + margin(limit));|return false;
src/imaging/jpeg/trials_quant.cpp|    return std::fmod((natural + 1) * 0.6180339887498949 + table * 0.5, 1.0);|    return 0.5;
src/batch/batchrunner.cpp|const bool notStarted = control.stopped();|const bool notStarted = false;
src/app/batchdialog.cpp|        if (suffix.isEmpty()) {|        if (false) {
src/resize/searchencodings.cpp|            at = fits - 1; // the guess|            at = fits; // the guess
src/resize/sizesearch.cpp|    if (bytes <= m_target - kStopWindow)\n        m_underFrom|    if (bytes <= m_target)\n        m_underFrom
src/resize/sizesearch.cpp|    if (under == over) // nothing known|    if (!under \&\& !over) // nothing known
src/imaging/resample/resample_avx2.cpp|storePixel(out1, static_cast<std::uint32_t>(_mm256_extract_epi32(packed, 4)));|storePixel(out1, static_cast<std::uint32_t>(_mm256_extract_epi32(packed, 0)));
src/imaging/decode/hevc_rgb_avx2.cpp|_mm256_add_ps(value, _mm256_set1_ps(0.5f))|_mm256_add_ps(value, _mm256_set1_ps(0.49f))
src/imaging/decode/decode_heif.cpp|        rgb[0] = r[x];|        rgb[0] = b[x];
src/imaging/resample/resample.cpp|        m_capacity = most + 1;|        m_capacity = most;
src/imaging/decode/decode_jpeg.cpp|    if (h.error != DecodeError::None \|\| h.cmyk \|\| h.orientation != 1|    if (h.error != DecodeError::None \|\| h.cmyk
src/imaging/decode/decode_jpeg.cpp|resampler.firstRow(), last ? height : resampler.endRow(), last, ahead);|resampler.firstRow(), last ? height : resampler.endRow(), false, ahead);
src/imaging/decode/decode_jpeg.cpp|            sink.flush(last ? height : resampler.endRow());|            ;
src/batch/batchjob.cpp|const QSize size = decoded.resized ? decoded.image.size() : targetSize|const QSize size = targetSize
src/imaging/decode/decode_heif.cpp|const QSize to = resizeTo && !needsSrgbConversion(colours) ? |const QSize to = resizeTo ? 
src/imaging/decode/decode_heif.cpp|lower = resampleRows(rows, height, out, split, to.height());|lower = resampleRows(rows, height, out, split + 1, to.height());
src/imaging/decode/hevc_plugin.cpp|const heif_error e = concealedDamage(ctx) ? kDamaged : toHeifImage(picture, out);|const heif_error e = toHeifImage(picture, out);
LIST
)
caught=0
missed=0
while IFS= read -r line; do
    [ -z "$line" ] && continue
    file=${line%%|*}
    rest=${line#*|}
    # "|" inside a text is written "\|"
    old=$(printf '%s' "$rest" | sed 's/\\|/\x01/g' | cut -d'|' -f1 | tr '\001' '|')
    new=$(printf '%s' "$rest" | sed 's/\\|/\x01/g' | cut -d'|' -f2 | tr '\001' '|')
    cp "$root/$file" "$root/$file.orig"
    if ! OLD="$old" NEW="$new" python3 - "$root/$file" <<'PY'
import os, sys
path = sys.argv[1]
old = os.environ["OLD"].replace("\\n", "\n").replace("\\&", "&")
new = os.environ["NEW"].replace("\\n", "\n").replace("\\&", "&")
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"{path}: '{old}' occurs {text.count(old)} times")
open(path, "w").write(text.replace(old, new))
PY
    then
        mv "$root/$file.orig" "$root/$file"
        echo "BAD FAULT: $file: $old"
        missed=$((missed + 1))
        continue
    fi
    verdict=missed
    if ! cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null 2>&1; then
        verdict="caught (does not build)"
    elif ! (cd "$build" && ctest -R "$tests" --timeout 120 -j"$(nproc)" >/dev/null 2>&1); then
        verdict=caught
    fi
    mv "$root/$file.orig" "$root/$file"
    touch "$root/$file"
    case $verdict in
        caught*) caught=$((caught + 1)) ;;
        *) missed=$((missed + 1)) ;;
    esac
    echo "$verdict: $file: $(printf '%s' "$old" | head -c 70)"
done <<< "$faults"
cmake --build "$build" -j"$(nproc)" >/dev/null 2>&1
echo "$caught caught, $missed missed"
[ "$missed" -eq 0 ]
