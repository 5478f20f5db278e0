G01 X1.0 (first)
G01 X2.0	(second)
