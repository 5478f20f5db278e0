// 0.6 s of dwell plus 53 ms of homing -> 0:00:01 (a short dwell,
// since a dry run waits it out)
G20
G04 P300
G04 P300
