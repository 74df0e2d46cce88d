/* stands for a header of the codec's insides */
