// mistake_arc.nc - a corner rounded with a clockwise arc.
//
// millrun moves in straight lines only. The G02 line on line 12 stops the
// run with "Unknown GCode @ mistake_arc.nc:12"; the moves before it are
// already in KelCodeOutput.txt. Fix: post the job with arcs broken into
// short straight segments.
G20
G90
; Z down to 2.0", then to the corner's start
G01 Z2.0000
G01 X1.0000 Y0.5000
G02 X1.5000 Y1.0000 I0.0000 J0.5000 (quarter circle: rejected)
G01 Y1.5000
G00 Z2.1100
