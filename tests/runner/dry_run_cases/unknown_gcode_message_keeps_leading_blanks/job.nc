// header
  	N20 G02 X1 Y1 (arc)  
