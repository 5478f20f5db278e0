( PCB drilling, written in the style of an Excellon-to-G-code converter )
( This file uses inches )
G94 ( Feed per minute )
G20
G90
G17
G0 Z0.08
T1
(MSG, change tool bit to drill size 0.0320 in)
M0
M3 S20000
G4 P0.2
G81 R0.02 Z-0.067 F3
X0.1000 Y0.1000
X0.2000 Y0.1000
X0.3000 Y0.1000
X0.3000 Y0.2000
X0.2000 Y0.2000
X0.1000 Y0.2000
X0.6500 Y0.1500
X0.7500 Y0.1500
X0.8500 Y0.1500
X0.8500 Y0.5500
X0.7500 Y0.5500
X0.6500 Y0.5500
G80
G0 Z0.08
M5
M30
