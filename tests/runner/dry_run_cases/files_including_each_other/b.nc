// b
include a.nc
