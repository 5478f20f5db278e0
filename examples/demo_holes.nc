// demo_holes.nc - a row of eight mounting holes along the top edge of the
// name plate, Y 1.7500, X 0.5000 to 2.2500 every 0.2500". Each hole is
// pecked in two steps to Z 1.7500 and dwells 0.1 s at the bottom
// ("G04 P" takes milliseconds). Cut with the job's 1/8" end mill, which is
// centre-cutting: no tool change, so the spindle keeps running.
//
// Included from demo.nc; it can also be dry-run on its own.

N5030 M08 (coolant on)
N5040 G00 Z2.0500

; hole 1 of 8
N5050 G00 X0.5000 Y1.7500
N5060 G01 Z1.9700
N5070 G01 Z1.8500 (first peck)
N5080 G00 Z1.9700 (clear the chips)
N5090 G01 Z1.7500 (through)
N5100 G04 P100 (dwell)
N5110 G00 Z2.0500

; hole 2 of 8
N5120 G00 X0.7500 Y1.7500
N5130 G01 Z1.9700
N5140 G01 Z1.8500 (first peck)
N5150 G00 Z1.9700 (clear the chips)
N5160 G01 Z1.7500 (through)
N5170 G04 P100 (dwell)
N5180 G00 Z2.0500

; hole 3 of 8
N5190 G00 X1.0000 Y1.7500
N5200 G01 Z1.9700
N5210 G01 Z1.8500 (first peck)
N5220 G00 Z1.9700 (clear the chips)
N5230 G01 Z1.7500 (through)
N5240 G04 P100 (dwell)
N5250 G00 Z2.0500

; hole 4 of 8
N5260 G00 X1.2500 Y1.7500
N5270 G01 Z1.9700
N5280 G01 Z1.8500 (first peck)
N5290 G00 Z1.9700 (clear the chips)
N5300 G01 Z1.7500 (through)
N5310 G04 P100 (dwell)
N5320 G00 Z2.0500

; hole 5 of 8
N5330 G00 X1.5000 Y1.7500
N5340 G01 Z1.9700
N5350 G01 Z1.8500 (first peck)
N5360 G00 Z1.9700 (clear the chips)
N5370 G01 Z1.7500 (through)
N5380 G04 P100 (dwell)
N5390 G00 Z2.0500

; hole 6 of 8
N5400 G00 X1.7500 Y1.7500
N5410 G01 Z1.9700
N5420 G01 Z1.8500 (first peck)
N5430 G00 Z1.9700 (clear the chips)
N5440 G01 Z1.7500 (through)
N5450 G04 P100 (dwell)
N5460 G00 Z2.0500

; hole 7 of 8
N5470 G00 X2.0000 Y1.7500
N5480 G01 Z1.9700
N5490 G01 Z1.8500 (first peck)
N5500 G00 Z1.9700 (clear the chips)
N5510 G01 Z1.7500 (through)
N5520 G04 P100 (dwell)
N5530 G00 Z2.0500

; hole 8 of 8
N5540 G00 X2.2500 Y1.7500
N5550 G01 Z1.9700
N5560 G01 Z1.8500 (first peck)
N5570 G00 Z1.9700 (clear the chips)
N5580 G01 Z1.7500 (through)
N5590 G04 P100 (dwell)
N5600 G00 Z2.0500

; back over the plate's centre, tool up
N5610 G00 X1.5000 Y1.0000 Z2.0500
; end of demo_holes.nc
