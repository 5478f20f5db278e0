G01 X1.0
include nowhere.nc
G01 X2.0
