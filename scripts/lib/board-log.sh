# shellcheck shell=bash
# Log files of the virtual board's long-running helpers that would otherwise grow for as long as
# the board runs. Sourced by scripts/run.

# The lines a rotated log holds before it is moved aside (about 40 minutes of a status receiver's
# per-second lines).
board_log_lines=${VANTOR_BOARD_LOG_LINES:-5000}

# log_rotate_into FILE: copies standard input line by line to FILE; once FILE holds
# board_log_lines lines it becomes FILE.1 (replacing the one before) and FILE starts empty, so at
# most twice that many lines are kept. Ends at the end of its input.
log_rotate_into() {
  local file=$1 count=0 line
  : >"$file"
  while IFS= read -r line; do
    if [ "$count" -ge "$board_log_lines" ]; then
      mv -f "$file" "$file.1"
      : >"$file"
      count=0
    fi
    printf '%s\n' "$line" >>"$file"
    count=$((count + 1))
  done
}

# log_text FILE: what a rotated log holds, the older part first.
log_text() {
  cat "$1.1" "$1" 2>/dev/null
}
