
   	  
// slashes
' apostrophe
# hash
REM upper
rem lower
REMARK counts as REM
	  # indented
// CRLF line end
set_chg_dirs_sleep_ms 5
set_chg_dirs_sleep_ms 5  7
SET_CHG_DIRS_SLEEP_MS 5,7
