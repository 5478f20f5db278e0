// demo.nc - name plate: a rectangular pocket and a row of mounting holes
//
// Stock: 3.000" x 2.000" aluminium plate, clamped with its lower left
// corner at X 0, Y 0. Units are inches, coordinates absolute.
// Z home (the top of Z travel) is 2.11"; the plate's top face stands at
// Z 1.9500", so the pocket, 0.2000" deep, bottoms out at Z 1.7500".
//
// Tool: T1 1/8" two-flute centre-cutting end mill, for the pocket and for
// the holes, which it plunges. One tool for the whole job: millrun stops at
// a tool change once the job has moved (split such a job with millprep).
//
' Operator: zero X and Y on the plate corner before the run.

# ---- machine parameters --------------------------------------------
# Set before the first G-code line: homing puts Z at this height.
set_work_surface_depth_below_top_of_z 2.11
# Pauses (ms) on a change of direction, X Y Z.
set_chg_dirs_sleep_ms 5 7 7

REM ---- program header --------------------------------------------
; G-code from here on. Its first line (a ";" comment counts) homes the
; machine: Z up to its home, then X left, then Y back.
N10 G20 (inches)
N20 G90 (absolute coordinates)
N30 G40 (no cutter compensation)
N40 G49 (no tool length offset)
N50 G80 (no canned cycle)
N60 G54 (work offset 1)
N70 G61 (exact stop)
N80 T1 M06 (1/8" end mill)
N90 S12000 M03 (spindle on, clockwise)
N100 G04 P500 (let the spindle come up to speed)
N110 F8.0

rem ---- pocket: X 0.7500 .. 2.2500, Y 0.5000 .. 1.5000 -------------
; Zig-zag along X with a 0.0450" step-over, five passes of 0.0400",
; then one finishing lap around the wall at each depth.
N120 G00 Z2.0500 (safe height)

( ---- pass 1 of 5: Z 1.9100 ---- )
N130 G00 X0.8000 Y0.5500
N140 G00 Z1.9700 (clearance above the face)
N150 G01 Z1.9100 (plunge)
N160 G01 X2.2000
N170 Y0.5950
N180 X0.8000
N190 Y0.6400
N200 X2.2000
N210 Y0.6850
N220 X0.8000
N230 Y0.7300
N240 X2.2000
N250 Y0.7750
N260 X0.8000
N270 Y0.8200
N280 X2.2000
N290 Y0.8650
N300 X0.8000
N310 Y0.9100
N320 X2.2000
N330 Y0.9550
N340 X0.8000
N350 Y1.0000
N360 X2.2000
N370 Y1.0450
N380 X0.8000
N390 Y1.0900
N400 X2.2000
N410 Y1.1350
N420 X0.8000
N430 Y1.1800
N440 X2.2000
N450 Y1.2250
N460 X0.8000
N470 Y1.2700
N480 X2.2000
N490 Y1.3150
N500 X0.8000
N510 Y1.3600
N520 X2.2000
N530 Y1.4050
N540 X0.8000
N550 Y1.4500
N560 X2.2000
; finishing lap around the pocket wall
N570 G01 X2.2500 Y1.5000
N580 G01 X0.7500
N590 G01 Y0.5000
N600 G01 X2.2500
N610 G01 Y1.5000
N620 G00 Z2.0500 (retract)

( ---- pass 2 of 5: Z 1.8700 ---- )
N630 G00 X0.8000 Y0.5500
N640 G00 Z1.9700 (clearance above the face)
N650 G01 Z1.8700 (plunge)
N660 G01 X2.2000
N670 Y0.5950
N680 X0.8000
N690 Y0.6400
N700 X2.2000
N710 Y0.6850
N720 X0.8000
N730 Y0.7300
N740 X2.2000
N750 Y0.7750
N760 X0.8000
N770 Y0.8200
N780 X2.2000
N790 Y0.8650
N800 X0.8000
N810 Y0.9100
N820 X2.2000
N830 Y0.9550
N840 X0.8000
N850 Y1.0000
N860 X2.2000
N870 Y1.0450
N880 X0.8000
N890 Y1.0900
N900 X2.2000
N910 Y1.1350
N920 X0.8000
N930 Y1.1800
N940 X2.2000
N950 Y1.2250
N960 X0.8000
N970 Y1.2700
N980 X2.2000
N990 Y1.3150
N1000 X0.8000
N1010 Y1.3600
N1020 X2.2000
N1030 Y1.4050
N1040 X0.8000
N1050 Y1.4500
N1060 X2.2000
; finishing lap around the pocket wall
N1070 G01 X2.2500 Y1.5000
N1080 G01 X0.7500
N1090 G01 Y0.5000
N1100 G01 X2.2500
N1110 G01 Y1.5000
N1120 G00 Z2.0500 (retract)

( ---- pass 3 of 5: Z 1.8300 ---- )
N1130 G00 X0.8000 Y0.5500
N1140 G00 Z1.9700 (clearance above the face)
N1150 G01 Z1.8300 (plunge)
N1160 G01 X2.2000
N1170 Y0.5950
N1180 X0.8000
N1190 Y0.6400
N1200 X2.2000
N1210 Y0.6850
N1220 X0.8000
N1230 Y0.7300
N1240 X2.2000
N1250 Y0.7750
N1260 X0.8000
N1270 Y0.8200
N1280 X2.2000
N1290 Y0.8650
N1300 X0.8000
N1310 Y0.9100
N1320 X2.2000
N1330 Y0.9550
N1340 X0.8000
N1350 Y1.0000
N1360 X2.2000
N1370 Y1.0450
N1380 X0.8000
N1390 Y1.0900
N1400 X2.2000
N1410 Y1.1350
N1420 X0.8000
N1430 Y1.1800
N1440 X2.2000
N1450 Y1.2250
N1460 X0.8000
N1470 Y1.2700
N1480 X2.2000
N1490 Y1.3150
N1500 X0.8000
N1510 Y1.3600
N1520 X2.2000
N1530 Y1.4050
N1540 X0.8000
N1550 Y1.4500
N1560 X2.2000
; finishing lap around the pocket wall
N1570 G01 X2.2500 Y1.5000
N1580 G01 X0.7500
N1590 G01 Y0.5000
N1600 G01 X2.2500
N1610 G01 Y1.5000
N1620 G00 Z2.0500 (retract)

( ---- pass 4 of 5: Z 1.7900 ---- )
N1630 G00 X0.8000 Y0.5500
N1640 G00 Z1.9700 (clearance above the face)
N1650 G01 Z1.7900 (plunge)
N1660 G01 X2.2000
N1670 Y0.5950
N1680 X0.8000
N1690 Y0.6400
N1700 X2.2000
N1710 Y0.6850
N1720 X0.8000
N1730 Y0.7300
N1740 X2.2000
N1750 Y0.7750
N1760 X0.8000
N1770 Y0.8200
N1780 X2.2000
N1790 Y0.8650
N1800 X0.8000
N1810 Y0.9100
N1820 X2.2000
N1830 Y0.9550
N1840 X0.8000
N1850 Y1.0000
N1860 X2.2000
N1870 Y1.0450
N1880 X0.8000
N1890 Y1.0900
N1900 X2.2000
N1910 Y1.1350
N1920 X0.8000
N1930 Y1.1800
N1940 X2.2000
N1950 Y1.2250
N1960 X0.8000
N1970 Y1.2700
N1980 X2.2000
N1990 Y1.3150
N2000 X0.8000
N2010 Y1.3600
N2020 X2.2000
N2030 Y1.4050
N2040 X0.8000
N2050 Y1.4500
N2060 X2.2000
; finishing lap around the pocket wall
N2070 G01 X2.2500 Y1.5000
N2080 G01 X0.7500
N2090 G01 Y0.5000
N2100 G01 X2.2500
N2110 G01 Y1.5000
N2120 G00 Z2.0500 (retract)

( ---- pass 5 of 5: Z 1.7500 ---- )
N2130 G00 X0.8000 Y0.5500
N2140 G00 Z1.9700 (clearance above the face)
N2150 G01 Z1.7500 (plunge)
N2160 G01 X2.2000
N2170 Y0.5950
N2180 X0.8000
N2190 Y0.6400
N2200 X2.2000
N2210 Y0.6850
N2220 X0.8000
N2230 Y0.7300
N2240 X2.2000
N2250 Y0.7750
N2260 X0.8000
N2270 Y0.8200
N2280 X2.2000
N2290 Y0.8650
N2300 X0.8000
N2310 Y0.9100
N2320 X2.2000
N2330 Y0.9550
N2340 X0.8000
N2350 Y1.0000
N2360 X2.2000
N2370 Y1.0450
N2380 X0.8000
N2390 Y1.0900
N2400 X2.2000
N2410 Y1.1350
N2420 X0.8000
N2430 Y1.1800
N2440 X2.2000
N2450 Y1.2250
N2460 X0.8000
N2470 Y1.2700
N2480 X2.2000
N2490 Y1.3150
N2500 X0.8000
N2510 Y1.3600
N2520 X2.2000
N2530 Y1.4050
N2540 X0.8000
N2550 Y1.4500
N2560 X2.2000
; finishing lap around the pocket wall
N2570 G01 X2.2500 Y1.5000
N2580 G01 X0.7500
N2590 G01 Y0.5000
N2600 G01 X2.2500
N2610 G01 Y1.5000
N2620 G00 Z2.0500 (retract)

// ---- holes ----------------------------------------------------------
// The drilling is kept in its own file. An include path is taken from
// the working directory, so run the job from the folder that holds both.
include demo_holes.nc

REM ---- end of job ------------------------------------------------
N2640 M05 (spindle off)
N2650 M09 (coolant off)
N2660 G00 Z2.1100 (Z home)
N2670 G00 X0.0000 (X home)
N2680 G00 Y1.9000 (park the table for unloading)
N2690 M30 (end of program)
; end of demo.nc
