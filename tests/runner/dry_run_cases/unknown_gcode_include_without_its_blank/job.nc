G01 X1.0
include
G01 X2.0
