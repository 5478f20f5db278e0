G01 X1.0
include holes.nc
G01 X2.0
