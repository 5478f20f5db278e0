G01 X1.0
include b.nc
