# Prints the last target of a milling script in steps, as the simulated
# machine counts them (relative to home; Z home is the work-surface depth):
#   awk -f tools/last-target.awk [-v sx=1024/1688 -v sy=... -v sz=...] SCRIPT
# Includes are followed (relative to the working directory), comments and
# N-words are skipped the way millrun reads them.
function steps(inches, scale,    n, d, parts, r) {
  split(scale, parts, "/"); n = parts[1]; d = parts[2]
  r = n * inches * 1000.0 / d
  return r < 0 ? -int(-r + 0.5) : int(r + 0.5)
}
function run(file,    line, rest, ops, a, letters, i, v) {
  while ((getline line < file) > 0) {
    sub(/^[ \t]+/, "", line); sub(/[ \t\r\n]+$/, "", line)
    if (line == "" || line ~ /^(\/\/|'|#|[Rr][Ee][Mm])/) continue
    if (tolower(substr(line, 1, 8)) == "include ") { run(substr(line, 9)); continue }
    if (tolower(substr(line, 1, 38)) == "set_work_surface_depth_below_top_of_z ") {
      depth = substr(line, 39) + 0; continue
    }
    sub(/^N-?[0-9]+ ?/, "", line)
    if (substr(line, 1, 1) == ";") continue
    if (line ~ /\)$/) sub(/[ \t]*\(.*$/, "", line)
    if (line ~ /^G0?[01] /) { sub(/^G0?[01] /, "", line) } else if (line !~ /^[XYZ]/) continue
    for (i = 1; i <= 3; i++) {
      a = substr("XYZ", i, 1)
      if (substr(line, 1, 1) != a) continue
      v = substr(line, 2); match(v, /^[-0-9.]*/); pos[a] = substr(v, 1, RLENGTH) + 0
      line = substr(line, 2 + RLENGTH); sub(/^ /, "", line)
    }
  }
  close(file)
}
BEGIN {
  if (sx == "") sx = "1024/1688"; if (sy == "") sy = "1024/1688"; if (sz == "") sz = "4000/1000"
  depth = 2.11; pos["X"] = 0; pos["Y"] = 0; pos["Z"] = "home"
  run(ARGV[1]); ARGV[1] = ""
  z = pos["Z"] == "home" ? 0 : steps(pos["Z"], sz) - steps(depth, sz)
  printf "x=%d y=%d z=%d\n", steps(pos["X"], sx), steps(pos["Y"], sy), z
}
