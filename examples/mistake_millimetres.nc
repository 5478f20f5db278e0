// mistake_millimetres.nc - a job posted in millimetres by mistake.
//
// millrun takes inches only. Read as inches, the moves below would go 25.4
// times too far, so the G21 line (millimetres) stops the run before
// anything moves, with a message that names this file and line 9.
// Fix: post the job again in inches (G20).
G20
G90
G21 (millimetres: rejected)
G00 Z52.0000
G00 X12.7000 Y12.7000
G01 Z48.0000
G01 X63.5000
G00 Z53.5940
